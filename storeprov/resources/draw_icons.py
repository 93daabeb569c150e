#!/usr/bin/env python3
"""Draws the store provider's icons and writes them as XPM images into
icons.cpp: 104 (64x64, two overlapping cards), 105 (32x32, 16 colours, a
contact chip) and 111 (32x32, a warning triangle). Run it again after
changing a drawing."""
import math
import os

def chip(w, h, ox, oy, size, px, gold, light, line):
    # A contact chip: rounded pad with contact fields separated by lines.
    for y in range(size):
        for x in range(int(size * 1.25)):
            cx, cy = ox + x, oy + y
            if not (0 <= cx < w and 0 <= cy < h):
                continue
            corner = (x in (0, int(size * 1.25) - 1)) and (y in (0, size - 1))
            if corner:
                continue
            edge = x == 0 or y == 0 or x == int(size * 1.25) - 1 or y == size - 1
            col = line if edge else gold
            third = size // 3
            if y in (third, 2 * third) and (x < size * 0.45 or x > size * 0.8):
                col = line
            if int(size * 0.45) <= x <= int(size * 0.8) and third <= y <= 2 * third:
                col = light if not edge else line
            px[cy][cx] = col

def rounded_rect(px, x0, y0, x1, y1, fill, border, radius=3):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            dx = max(x0 + radius - x, 0, x - (x1 - radius))
            dy = max(y0 + radius - y, 0, y - (y1 - radius))
            d = math.hypot(dx, dy)
            if d > radius + 0.3:
                continue
            on_edge = d > radius - 0.7 or x in (x0, x1) or y in (y0, y1)
            px[y][x] = border if on_edge else fill

def icon_105():
    w = h = 32
    px = [[' '] * w for _ in range(h)]
    # A white card corner behind a large yellow chip.
    rounded_rect(px, 1, 3, 30, 28, 'w', 'k', 3)
    chip(w, h, 5, 8, 16, px, 'y', 'w', 'k')
    for x in range(4, 28):
        px[26][x] = 'g'
    colors = {' ': 'None', 'w': '#FFFFFF', 'k': '#000000', 'y': '#FFFF00', 'g': '#808080'}
    return w, h, colors, px

def icon_111():
    w = h = 32
    px = [[' '] * w for _ in range(h)]
    top, bottom = (16, 2), 29
    for y in range(2, bottom + 1):
        half = (y - 2) * 15 / (bottom - 2)
        for x in range(w):
            d = abs(x + 0.5 - 16)
            if d <= half + 0.5:
                edge = d > half - 1.2 or y >= bottom - 1
                px[y][x] = 'k' if edge else 'y'
    for y in range(10, 21):
        for x in range(15, 18):
            px[y][x] = 'k'
    for y in range(23, 26):
        for x in range(15, 18):
            px[y][x] = 'k'
    for y in range(bottom + 1, min(bottom + 2, h)):
        for x in range(3, 30):
            px[y][x] = 's'
    colors = {' ': 'None', 'k': '#000000', 'y': '#FFD800', 's': '#9C9C9C'}
    return w, h, colors, px

def icon_104():
    w = h = 64
    px = [[' '] * w for _ in range(h)]
    # Blue card behind, rotated look by offset; orange card in front.
    rounded_rect(px, 18, 4, 61, 34, 'b', 'n', 5)
    for x in range(22, 58):
        px[11][x] = 'n'
        px[12][x] = 'n'
    rounded_rect(px, 2, 24, 47, 58, 'o', 'r', 5)
    chip(w, h, 8, 34, 12, px, 'y', 'w', 'k')
    # Emblem: a circle with a cross in the lower right of the front card.
    cx, cy, r = 36, 46, 7
    for y in range(cy - r - 1, cy + r + 2):
        for x in range(cx - r - 1, cx + r + 2):
            d = math.hypot(x - cx, y - cy)
            if d <= r:
                px[y][x] = 'w' if d > r - 2 else 'r'
    for i in range(-4, 5):
        px[cy][cx + i] = 'w'
        px[cy + i][cx] = 'w'
    for x in range(8, 28):
        px[53][x] = 'r'
    colors = {' ': 'None', 'b': '#3C78D8', 'n': '#1C3F7A', 'o': '#FF8C1A', 'r': '#B34700',
              'y': '#FFD700', 'w': '#FFFFFF', 'k': '#5A4000'}
    return w, h, colors, px

def xpm(name, drawing):
    w, h, colors, px = drawing
    lines = ['"%d %d %d 1",' % (w, h, len(colors))]
    for key, value in colors.items():
        lines.append('"%s c %s",' % (key, value))
    for row in px:
        lines.append('"%s",' % ''.join(row))
    lines[-1] = lines[-1].rstrip(',')
    return 'const char* const %s[] = {\n    %s};\n' % (name, '\n    '.join(lines))

def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parts = [
        '// The store provider\'s icons, drawn by draw_icons.py beside this file.\n',
        '#include "platform/image_resources.h"\n#include "storeprov_resources.h"\n\nnamespace {\n\n',
        '// 104: two overlapping smart cards, orange in front, blue behind.\n',
        xpm('kCardsIcon', icon_104()), '\n',
        '// 105: a smart-card contact chip in yellow and white.\n',
        xpm('kChipIcon', icon_105()), '\n',
        '// 111: a yellow warning triangle with a black exclamation mark.\n',
        xpm('kWarningIcon', icon_111()), '\n',
        'const platform::ImageResource kImages[] = {\n',
        '    {kCardsIconId, platform::ImageKind::Icon, kCardsIcon, nullptr},\n',
        '    {kChipIconId, platform::ImageKind::Icon, kChipIcon, nullptr},\n',
        '    {kWarningIconId, platform::ImageKind::Icon, kWarningIcon, nullptr},\n',
        '};\n\n',
        'const platform::ImageResourceRegistration kRegistration(kImages);\n\n',
        '}  // namespace\n',
    ]
    with open(os.path.join(here, 'icons.cpp'), 'w') as f:
        f.write(''.join(parts))

if __name__ == '__main__':
    main()
