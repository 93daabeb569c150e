// A font of a given size in points, scaled to the resolution of the device
// it is drawn on.
#pragma once

#include <QFont>

#include <memory>

class QPaintDevice;

// Style bits.
inline constexpr int kFontBold = 1;
inline constexpr int kFontItalic = 2;
inline constexpr int kFontUnderline = 4;
inline constexpr int kFontStrikeOut = 8;

// The logical font height (negative: the character height in pixels) of a
// size given in tenths of a point at that many pixels per inch.
int ScaledFontHeight(int tenthsOfPoint, double pixelsPerInch);

// height and width in tenths of a point (width 0: the face's own width);
// logicalInch picks the device's logical resolution, otherwise its physical
// one (pixels over millimetres of the screen). The caller owns the font.
std::unique_ptr<QFont> CreateScaledFont(const QPaintDevice& device, const char* faceName,
                                        int height, int width, int style, bool logicalInch);
