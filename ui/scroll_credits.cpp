// The credits scroller.
#include "ui/scroll_credits.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QTimerEvent>

namespace torquelin {

namespace {

QFont CreditFont(int pixelHeight, int weight) {
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif, QFont::PreferQuality);
  font.setPixelSize(pixelHeight);
  font.setWeight(static_cast<QFont::Weight>(weight));
  return font;
}

const QColor kHeadingColor(0, 100, 0);
const QColor kClassicBackground(212, 208, 200);

}  // namespace

bool VisualThemesActive() {
  const QStyle* style = QApplication::style();
  return style == nullptr ||
         style->name().compare(QStringLiteral("windows"), Qt::CaseInsensitive) != 0;
}

ScrollCredits::ScrollCredits(QWidget* parent)
    : QWidget(parent),
      bodyFont_(CreditFont(15, 100)),
      subheadingFont_(CreditFont(19, 700)),
      headingFont_(CreditFont(21, 700)) {
  // Every pixel comes from the back buffer; letting Qt clear the area first
  // would make it flicker.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
}

void ScrollCredits::StartScrolling(const char* const* lines,
                                   const std::map<std::string, QPixmap>& bitmaps) {
  background_ = VisualThemesActive() ? QColor(255, 255, 255) : kClassicBackground;
  hasBackground_ = true;
  bitmaps_ = bitmaps;
  lines_ = lines;
  lineCount_ = 0;
  while (lines_ != nullptr && lines_[lineCount_] != nullptr) ++lineCount_;
  scrollOffset_ = 0;
  // Sized once, at the first start with a real size; the page never resizes.
  if (backBuffer_.isNull() && !size().isEmpty()) backBuffer_ = QPixmap(size());
  ScrollTick();
  // Starting the same timer again replaces it, so a second start never
  // doubles the speed. A Qt timer never queues up missed ticks: when a frame
  // takes longer than the interval the next tick simply comes later, so the
  // work stays bounded at one frame per tick.
  timer_.start(kTickMilliseconds, this);
}

void ScrollCredits::StopScrolling() {
  timer_.stop();
  hasBackground_ = false;
}

void ScrollCredits::timerEvent(QTimerEvent* event) {
  if (event->timerId() == timer_.timerId())
    ScrollTick();
  else
    QWidget::timerEvent(event);
}

void ScrollCredits::ScrollTick() {
  ++scrollOffset_;
  if (backBuffer_.isNull()) return;
  const int width = backBuffer_.width();
  const int height = backBuffer_.height();

  QPainter painter(&backBuffer_);
  painter.fillRect(0, 0, width, height, hasBackground_ ? background_ : kClassicBackground);

  int top = -scrollOffset_;  // the layout rectangle: [top, top + height)
  const int bodyHeight = QFontMetrics(bodyFont_).height();
  for (int i = 0; i < lineCount_; ++i) {
    const std::string line = lines_[i];
    int lineHeight = bodyHeight;
    auto bitmap = bitmaps_.find(line);
    if (bitmap != bitmaps_.end()) {
      const QPixmap& image = bitmap->second;
      painter.drawPixmap((width - image.width()) / 2, top, image);
      lineHeight = image.height();
    } else if (!line.empty()) {
      const QFont* font = &bodyFont_;
      QColor color(0, 0, 0);
      if (line.back() == '\t') {
        font = &headingFont_;
        color = kHeadingColor;
      } else if (line.back() == '\r') {
        font = &subheadingFont_;
        color = kHeadingColor;
      }
      const QString text =
          QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size() - 1));
      painter.setFont(*font);
      painter.setPen(color);
      QRect drawn;
      painter.drawText(QRect(0, top, width, height),
                       Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, text, &drawn);
      lineHeight = text.isEmpty() ? QFontMetrics(*font).height() : drawn.height();
    }
    top += lineHeight;
    if (top > height) break;  // the rest lies below the visible area
  }
  // The whole list and one more client height have passed the top: let it
  // come in again from three quarters down.
  if (top + height < 0) scrollOffset_ = -static_cast<int>(0.75 * height);
  painter.end();
  update();
}

void ScrollCredits::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (backBuffer_.isNull())
    painter.fillRect(rect(), VisualThemesActive() ? QColor(255, 255, 255) : kClassicBackground);
  else
    painter.drawPixmap(0, 0, backBuffer_);
}

}  // namespace torquelin
