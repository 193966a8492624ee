// The slowly scrolling list of credit lines on the About page.
#pragma once

#include <map>
#include <string>

#include <QBasicTimer>
#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QWidget>

namespace torquelin {

// Shows a list of 8-bit text lines moving up one pixel per tick, drawn
// through a back buffer so it never flickers. The last character of a text
// line is a style mark and is never drawn: a tab makes a heading, a carriage
// return a subheading, anything else (normally a blank) body text. An empty
// line is a blank body-height gap; a line equal to a bitmap's name shows
// that bitmap. Interface thread only.
class ScrollCredits : public QWidget {
 public:
  explicit ScrollCredits(QWidget* parent = nullptr);

  // Starts (or restarts) from offset 0 and draws the first frame at once.
  // lines ends with a null pointer and must outlive the scrolling.
  void StartScrolling(const char* const* lines, const std::map<std::string, QPixmap>& bitmaps);
  // Harmless when nothing scrolls.
  void StopScrolling();

  bool IsScrolling() const { return timer_.isActive(); }
  int ScrollOffset() const { return scrollOffset_; }
  QColor Background() const { return background_; }
  // One frame: move up one pixel and redraw. Run by the timer.
  void ScrollTick();

  static constexpr int kTickMilliseconds = 70;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  QBasicTimer timer_;
  QColor background_;
  bool hasBackground_ = false;
  QPixmap backBuffer_;
  QFont bodyFont_, subheadingFont_, headingFont_;
  std::map<std::string, QPixmap> bitmaps_;
  const char* const* lines_ = nullptr;
  int lineCount_ = 0;
  int scrollOffset_ = 0;
};

// Whether the current widget style draws the themed (white-bodied) look
// rather than the classic grey one.
bool VisualThemesActive();

}  // namespace torquelin
