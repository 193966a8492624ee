// Dialog-unit base values from a font.
#include "ui/dialog_units.h"

#include <QFontMetrics>

namespace torquelin {

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average over the 52 Latin letters, rounded, as dialog layouts have
  // always measured it; a font's own "average width" is often far off.
  static const QString kLetters =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  avgWidth_ = (metrics.horizontalAdvance(kLetters) / 26 + 1) / 2;
  avgHeight_ = metrics.height();
  if (avgWidth_ < 1) avgWidth_ = 1;
  if (avgHeight_ < 1) avgHeight_ = 1;
}

}  // namespace torquelin
