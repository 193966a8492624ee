// The About page, its credit lines and the logo.
#include "ui/about_page.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace torquelin {

// "\t" ends a heading, "\r" a subheading, " " a body line.
const char* const kCreditLines[] = {
    "",
    kLogoLine,
    "",
    "Torquelin 1.2\t",
    "Version 1.2.0 ",
    "December 2026 ",
    "",
    "",
    "Keeps copies of a directory tree in step ",
    "by shipping patch files. ",
    "Changes are found by their content digests, ",
    "so nothing is missed and nothing is sent twice. ",
    "",
    "",
    "",
    "Software Development\t",
    "",
    "Engine\r",
    "The Torquelin engine team ",
    "",
    "Desktop program\r",
    "The Torquelin desktop team ",
    "",
    "Command line\r",
    "The Torquelin tools team ",
    "",
    "",
    "",
    "Testing\t",
    "",
    "Test automation\r",
    "The Torquelin test team ",
    "",
    "Release checks\r",
    "Every patch is applied and checked ",
    "against its fingerprint before release. ",
    "",
    "",
    "",
    "Project Website\t",
    "",
    "See the project's home page ",
    "for releases, documentation ",
    "and the change log. ",
    "",
    "",
    "",
    "Bug submission\t",
    "",
    "Please report faults through ",
    "the project's issue tracker. ",
    "Include the XML diff report when you can. ",
    "",
    "",
    "",
    "Outsourcing\t",
    "",
    "Torquelin is built and maintained ",
    "by its own team; ",
    "no part of the work is outsourced. ",
    "",
    "",
    "",
    "Disclaimer\t",
    "",
    "Torquelin is provided as is, ",
    "without warranty of any kind. ",
    "The authors accept no liability. ",
    "Keep a backup of your data ",
    "before you apply a patch. ",
    "",
    "",
    "",
    "THANKS\t",
    "",
    "To everyone who tried the early builds, ",
    "sent a report, ",
    "or asked for one more option, ",
    "and to the users who trust it with their files. ",
    "",
    "",
    "",
    "",
    "Copyright (c) 2026 the Torquelin developers ",
    "All rights reserved. ",
    "",
    "",
    "* * * * * * * * * \t",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    nullptr,
};

QPixmap MakeProductLogo() {
  QImage image(kLogoWidth, kLogoHeight, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);

  painter.fillRect(image.rect(), Qt::white);

  // Two trees of boxes, the older left and the newer right, joined by an
  // arrow: the program's one idea.
  const QColor green(0, 100, 0);
  const QColor light(120, 180, 120);
  enum class Tree { Older, Newer };
  auto tree = [&](int x, int y, Tree which) {
    const bool newer = which == Tree::Newer;
    painter.setPen(QPen(green, 2));
    painter.setBrush(newer ? light : QColor(255, 255, 255));
    painter.drawRect(x, y, 26, 18);
    painter.drawLine(x + 8, y + 18, x + 8, y + 66);
    for (int i = 0; i < 3; ++i) {
      const int row = y + 30 + i * 18;
      painter.drawLine(x + 8, row + 6, x + 22, row + 6);
      painter.setBrush(newer && i != 1 ? light : QColor(255, 255, 255));
      painter.drawRect(x + 22, row, 20, 12);
    }
  };
  tree(24, 20, Tree::Older);
  tree(300, 20, Tree::Newer);
  QPainterPath arrow;
  arrow.moveTo(96, 60);
  arrow.cubicTo(140, 20, 230, 20, 274, 60);
  painter.setPen(QPen(green, 4, Qt::SolidLine, Qt::RoundCap));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(arrow);
  painter.setBrush(green);
  painter.drawPolygon(QPolygonF({QPointF(282, 68), QPointF(262, 62), QPointF(276, 48)}));

  QFont title(QStringLiteral("Arial"));
  title.setStyleHint(QFont::SansSerif);
  title.setPixelSize(44);
  title.setBold(true);
  painter.setFont(title);
  painter.setPen(green);
  painter.drawText(QRect(0, 92, kLogoWidth, 52), Qt::AlignHCenter | Qt::AlignVCenter,
                   QStringLiteral("Torquelin"));
  QFont tag(title);
  tag.setPixelSize(13);
  tag.setBold(false);
  painter.setFont(tag);
  painter.setPen(QColor(60, 60, 60));
  painter.drawText(QRect(0, 142, kLogoWidth, 20), Qt::AlignHCenter | Qt::AlignVCenter,
                   QStringLiteral("directory trees in step"));
  painter.end();
  return QPixmap::fromImage(image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither));
}

AboutPage::AboutPage(const DialogUnits& units, QWidget* parent)
    : QWidget(parent), credits_(new ScrollCredits(this)), logo_(MakeProductLogo()) {
  setObjectName(QStringLiteral("About"));
  // The credits stay centred as the window widens.
  layout_.Place(credits_, units.Rect(7, 7, 408, 108), {0.5, 0, 0, 0});
}

void AboutPage::StartScrolling() { credits_->StartScrolling(kCreditLines, {{kLogoLine, logo_}}); }

void AboutPage::StopScrolling() { credits_->StopScrolling(); }

void AboutPage::Stretch(int extraWidth) { layout_.Apply(extraWidth, 0); }

void AboutPage::showEvent(QShowEvent* event) {
  // The themed tab body is white; match it.
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window,
                   VisualThemesActive() ? QColor(255, 255, 255) : QColor(212, 208, 200));
  setPalette(palette);
  setAutoFillBackground(true);
  QWidget::showEvent(event);
}

}  // namespace torquelin
