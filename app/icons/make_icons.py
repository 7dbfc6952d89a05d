# Draws the Halvic icon (a tagged text page, an arrow, a block of record cells) as XPM.
import sys

COLORS = {
    ' ': 'None', 'k': '#3A3F4B', 'w': '#FFFFFF', 'f': '#C9CED8', 't': '#E0701F',
    'c': '#8C93A1', 'b': '#1F6FD1', 'n': '#1B2C5E', 'l': '#5A86D6',
}

def icon(size):
    g = [[' '] * size for _ in range(size)]
    def rect(x0, y0, x1, y1, ch):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                if 0 <= x < size and 0 <= y < size:
                    g[y][x] = ch
    if size == 32:
        px0, py0, px1, py1, fold = 2, 2, 18, 29, 5
    else:
        px0, py0, px1, py1, fold = 0, 1, 9, 14, 3
    # page with outline and folded top-right corner
    rect(px0, py0, px1, py1, 'k')
    rect(px0 + 1, py0 + 1, px1 - 1, py1 - 1, 'w')
    for i in range(fold + 1):
        for j in range(fold + 1 - i):
            g[py0 + i][px1 - fold + i + j] = ' '
    for i in range(fold + 1):
        g[py0 + i][px1 - fold + i] = 'k'
    rect(px0 + 1, py0, px1 - fold, py0, 'k')
    rect(px1, py0 + fold, px1, py1, 'k')
    for i in range(1, fold):
        rect(px1 - fold, py0 + i, px1 - fold + i - 1, py0 + i, 'f') if i > 0 else None
    rect(px1 - fold, py0 + fold, px1 - 1, py0 + fold, 'k')
    rect(px1 - fold, py0 + 1, px1 - fold, py0 + fold, 'k')
    # lines of tagged text: an orange tag then grey content
    if size == 32:
        rows = range(py0 + 8, py1 - 2, 3)
        for k, y in enumerate(rows):
            rect(px0 + 3, y, px0 + 4, y + 1, 't')
            rect(px0 + 6, y, px1 - 3 - (k % 3) * 2, y, 'c')
        for y, w in ((py0 + 3, 6), (py0 + 5, 5)):
            rect(px0 + 3, y, px0 + 3 + w, y, 'c')
    else:
        for k, y in enumerate(range(py0 + 4, py1 - 1, 2)):
            g[y][px0 + 2] = 't'
            rect(px0 + 4, y, px1 - 2 - (k % 2), y, 'c')
        rect(px0 + 2, py0 + 2, px0 + 4, py0 + 2, 'c')
    # arrow pointing right
    if size == 32:
        ax0, ay, shaft = 13, 16, 2
        rect(ax0, ay - shaft, ax0 + 6, ay + shaft - 1, 'b')
        for i in range(6):
            rect(ax0 + 7 + i, ay - 5 + i, ax0 + 7 + i, ay + 4 - i, 'b')
        cx0, cy0 = 23, 4
        # record cells: 2 x 6 block with outline
        rect(cx0, cy0, cx0 + 8, cy0 + 24, 'k')
        for r in range(6):
            for c in range(2):
                ch = 'n' if (r + c) % 2 == 0 else 'l'
                rect(cx0 + 1 + c * 4, cy0 + 1 + r * 4 - (0), cx0 + 3 + c * 4, cy0 + 3 + r * 4, ch)
    else:
        ax0, ay = 7, 8
        rect(ax0, ay - 1, ax0 + 2, ay, 'b')
        for i in range(3):
            rect(ax0 + 3 + i, ay - 3 + i, ax0 + 3 + i, ay + 2 - i, 'b')
        cx0, cy0 = 11, 2
        rect(cx0, cy0, cx0 + 4, cy0 + 12, 'k')
        for r in range(4):
            for c in range(2):
                ch = 'n' if (r + c) % 2 == 0 else 'l'
                rect(cx0 + 1 + c * 2, cy0 + 1 + r * 3, cx0 + 1 + c * 2, cy0 + 2 + r * 3, ch)
    return g

def xpm(name, g):
    used = sorted({ch for row in g for ch in row})
    out = ['/* XPM */', '// The Halvic application icon, %dx%d (made by app/icons/make_icons.py).' % (len(g), len(g)),
           'static const char* const %s[] = {' % name,
           '    "%d %d %d 1",' % (len(g), len(g), len(used))]
    for ch in used:
        out.append('    "%s c %s",' % (ch, COLORS[ch]))
    for i, row in enumerate(g):
        out.append('    "%s"%s' % (''.join(row), ',' if i + 1 < len(g) else ''))
    out.append('};')
    return '\n'.join(out) + '\n'

outdir = sys.argv[1]
for size in (32, 16):
    with open('%s/halvic_%d.xpm' % (outdir, size), 'w') as f:
        f.write(xpm('halvic_%d_xpm' % size, icon(size)))
