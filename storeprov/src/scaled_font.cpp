#include "scaled_font.h"

#include <QFontMetrics>
#include <QPaintDevice>

#include <cmath>
#include <cstdlib>

namespace {

constexpr double kPointsPerInch = 0.013888889;  // 1 / 72

int Scale(int tenthsOfPoint, double pixelsPerInch) {
  return static_cast<int>(tenthsOfPoint * pixelsPerInch * kPointsPerInch);
}

}  // namespace

int ScaledFontHeight(int tenthsOfPoint, double pixelsPerInch) {
  const int y = Scale(tenthsOfPoint, pixelsPerInch);
  return -static_cast<int>(std::abs(y) * 0.1 + 0.5);
}

std::unique_ptr<QFont> CreateScaledFont(const QPaintDevice& device, const char* faceName,
                                        int height, int width, int style, bool logicalInch) {
  const double ppiX = logicalInch ? device.logicalDpiX() : device.physicalDpiX();
  const double ppiY = logicalInch ? device.logicalDpiY() : device.physicalDpiY();
  const int logicalHeight = ScaledFontHeight(height, ppiY);

  auto font = std::make_unique<QFont>(QString::fromLatin1(faceName));
  if (logicalHeight != 0) font->setPixelSize(std::abs(logicalHeight));
  font->setBold((style & kFontBold) != 0);
  font->setItalic((style & kFontItalic) != 0);
  font->setUnderline((style & kFontUnderline) != 0);
  font->setStrikeOut((style & kFontStrikeOut) != 0);

  const int x = Scale(width, ppiX);
  const int y = Scale(height, ppiY);
  if (width != 0 && y != 0) {
    // The width scales with the height: average width * |x| / |y|.
    const int average = QFontMetrics(*font, &const_cast<QPaintDevice&>(device)).averageCharWidth();
    const int logicalWidth =
        static_cast<int>(std::abs(x) * average / static_cast<double>(std::abs(y)) + 0.5);
    if (average > 0 && logicalWidth > 0) font->setStretch(logicalWidth * 100 / average);
  }
  return font;
}
