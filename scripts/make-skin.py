#!/usr/bin/env python3
"""scripts/make-skin.py [folder] : writes Quillon's own skin source folder (default data/skin):
config.osk, the BMP images and the WAV sounds, all drawn and synthesised here from numbers.

The look: a flat slate caption with a white title, thin slate borders, caption buttons that light
up on hover (red for close) and darken when pressed, a light menu bar and popup menus with a blue
highlight, and page-control tabs (white with a blue accent when active, grey when not)."""
import math
import os
import struct
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "data", "skin")
os.makedirs(out, exist_ok=True)

SLATE = (44, 52, 66)
SLATE_DARK = (34, 40, 52)
HOT = (66, 76, 94)
DOWN = (86, 98, 120)
CLOSE_HOT = (232, 17, 35)
CLOSE_DOWN = (160, 12, 24)
WHITE = (255, 255, 255)
BLUE = (0, 120, 215)
CAPTION_H = 28
BUTTON_W = 34


class Image:
    def __init__(self, w, h, fill=(0, 0, 0)):
        self.w, self.h = w, h
        self.px = [[fill for _ in range(w)] for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, l, t, r, b, c):  # exclusive right and bottom
        for y in range(t, b):
            for x in range(l, r):
                self.set(x, y, c)

    def bmp(self):
        row = (self.w * 3 + 3) // 4 * 4
        data = bytearray()
        for y in range(self.h - 1, -1, -1):
            line = bytearray()
            for (r, g, b) in self.px[y]:
                line += bytes((b, g, r))
            data += line + bytes(row - len(line))
        header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, self.w, self.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
        return header + info + bytes(data)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def caption():
    img = Image(8, CAPTION_H)
    for y in range(CAPTION_H):
        img.rect(0, y, 8, y + 1, mix(SLATE, SLATE_DARK, y / (CAPTION_H - 1)))
    return img


def glyph_button(kind, back):
    img = Image(BUTTON_W, CAPTION_H)
    for y in range(CAPTION_H):
        # The resting button is the caption's own gradient; hover and pressed are flat.
        row = back if back else mix(SLATE, SLATE_DARK, y / (CAPTION_H - 1))
        img.rect(0, y, BUTTON_W, y + 1, row)
    cx, cy = BUTTON_W // 2, CAPTION_H // 2
    if kind == "close":
        for i in range(-5, 6):
            img.set(cx + i, cy + i, WHITE)
            img.set(cx + i, cy - i, WHITE)
            img.set(cx + i + 1, cy + i, WHITE)
            img.set(cx + i + 1, cy - i, WHITE)
    elif kind == "max":
        img.rect(cx - 5, cy - 5, cx + 6, cy - 3, WHITE)
        img.rect(cx - 5, cy + 5, cx + 6, cy + 6, WHITE)
        img.rect(cx - 5, cy - 5, cx - 4, cy + 6, WHITE)
        img.rect(cx + 5, cy - 5, cx + 6, cy + 6, WHITE)
    elif kind == "restore":
        img.rect(cx - 3, cy - 6, cx + 7, cy - 5, WHITE)
        img.rect(cx + 6, cy - 6, cx + 7, cy + 3, WHITE)
        img.rect(cx - 6, cy - 3, cx + 4, cy - 1, WHITE)
        img.rect(cx - 6, cy + 6, cx + 4, cy + 7, WHITE)
        img.rect(cx - 6, cy - 3, cx - 5, cy + 7, WHITE)
        img.rect(cx + 3, cy - 3, cx + 4, cy + 7, WHITE)
    elif kind == "min":
        img.rect(cx - 5, cy + 1, cx + 6, cy + 2, WHITE)
    return img


def app_icon():
    # A ring with a tail: a "Q" for Quillon, anti-aliased by distance from the ring's centre line.
    # Drawn on the caption's own gradient, so it needs no key colour (a keyed object would cut
    # holes into the window's shape).
    img = Image(28, CAPTION_H)
    for y in range(CAPTION_H):
        img.rect(0, y, 28, y + 1, mix(SLATE, SLATE_DARK, y / (CAPTION_H - 1)))
    cx, cy, radius = 13.5, 13.5, 7.0
    for y in range(CAPTION_H):
        for x in range(28):
            d = abs(math.hypot(x + 0.5 - cx, y + 0.5 - cy) - radius)
            tail = abs((x - y) - 4) < 1.5 and 16 <= x <= 22
            if d < 1.6 or tail:
                img.set(x, y, (120, 190, 255))
    return img


def solid(w, h, c):
    return Image(w, h, c)


def tab(active):
    img = Image(12, 24, WHITE if active else (226, 229, 234))
    edge = (172, 178, 188)
    img.rect(0, 0, 12, 1, edge)
    img.rect(0, 0, 1, 24, edge)
    img.rect(11, 0, 12, 24, edge)
    if active:
        img.rect(1, 1, 11, 3, BLUE)
    else:
        img.rect(0, 23, 12, 24, edge)
    return img


images = [
    ("caption", caption()),
    ("appicon", app_icon()),
    ("border", solid(4, 4, SLATE_DARK)),
    ("grip", solid(16, 4, (60, 70, 88))),
    ("tab_active", tab(True)),
    ("tab_inactive", tab(False)),
]
for kind in ("close", "max", "restore", "min"):
    hot, down = (CLOSE_HOT, CLOSE_DOWN) if kind == "close" else (HOT, DOWN)
    images.append(("btn_%s" % kind, glyph_button(kind, None)))
    images.append(("btn_%s_hot" % kind, glyph_button(kind, hot)))
    images.append(("btn_%s_down" % kind, glyph_button(kind, down)))


def wave(freq, ms, volume):
    rate = 22050
    n = rate * ms // 1000
    samples = bytearray()
    for i in range(n):
        t = i / rate
        envelope = min(1.0, i / 60) * math.exp(-6.0 * i / n)
        v = math.sin(2 * math.pi * freq * t) * envelope * volume
        samples += struct.pack("<h", int(v * 32767))
    fmt = struct.pack("<4sIHHIIHH", b"fmt ", 16, 1, 1, rate, rate * 2, 2, 16)
    data = struct.pack("<4sI", b"data", len(samples)) + bytes(samples)
    return struct.pack("<4sI4s", b"RIFF", 4 + len(fmt) + len(data), b"WAVE") + fmt + data


sounds = [("click", wave(1320, 45, 0.35)), ("hover", wave(880, 25, 0.12))]


def button(name, kind, visible, command):
    last = BUTTON_W - 1, CAPTION_H - 1
    return [
        "[%s]" % name,
        "Kind=sysbutton",
        "Align=right",
        "Visible=%s" % visible,
        "Image=btn_%s" % kind,
        "HoverEvent=changeimage btn_%s_hot;play hover" % kind,
        "LeaveEvent=fadeimage btn_%s 0 0 %d %d 120" % (kind, last[0], last[1]),
        "ClickEvent=changeimage btn_%s_down;play click;%s" % (kind, command),
        "",
    ]


osk = [
    "; Quillon's own skin, written by scripts/make-skin.py.",
    "[General]",
    "SkinName=Quillon Slate",
    "SkinVersion=1.0",
    "Author=Quillon",
    "AuthorEmail=",
    "AuthorURL=",
    "Sizeable=true",
    "",
    "[Sounds]",
] + ["%s=%s.wav" % (n, n) for n, _ in sounds] + ["", "[Images]"] + ["%s=%s.bmp" % (n, n) for n, _ in images] + [
    "",
    "[Form]",
    "Kind=form",
    "Color=44,52,66",
    "Child=TopEdge,Caption,MenuBar,BottomEdge,LeftEdge,RightEdge,Client,TopLeftCorner,TopRightCorner,"
    "BottomLeftCorner,BottomRightCorner",
    "",
    "[TopEdge]",
    "Kind=top",
    "Align=mosttop",
    "Image=border",
    "Height=3",
    "",
    "[Caption]",
    "Kind=caption",
    "Align=mosttop",
    "Image=caption",
    "Height=%d" % CAPTION_H,
    "Child=AppIcon,MinButton,MaxButton,RestoreButton,CloseButton,Title",
    "",
    "[AppIcon]",
    "Align=left",
    "TileStyle=center",
    "Image=appicon",
    "DoubleClickEvent=close",
    "RightClickEvent=sysmenu",
    "ClickEvent=sysmenu",
    "",
    "[Title]",
    "Kind=title",
    "Align=client",
    "Transparency=0",
    "TextAlign=left",
    "FontName=Tahoma",
    "FontSize=9",
    "FontStyle=bold",
    "TextColor=255,255,255",
    "DisabledTextColor=170,178,190",
    "",
] + button("CloseButton", "close", "close", "close") + button("MaxButton", "max", "max,nomaximized", "max") + button(
    "RestoreButton", "restore", "max,maximized", "max") + button("MinButton", "min", "min", "min") + [
    "[MenuBar]",
    "Kind=menubar",
    "Align=mosttop",
    "Height=22",
    "Color=246,247,249",
    "Child=MenuBarItem,MenuBarFill",
    "",
    "; The rest of the bar right of the items: a parent's shape is the union of its children.",
    "[MenuBarFill]",
    "Align=client",
    "Color=246,247,249",
    "",
    "[MenuBarItem]",
    "Kind=menubaritem",
    "Align=left",
    "Color=246,247,249",
    "TextColor=30,34,40",
    "DisabledTextColor=150,150,150",
    "FontName=Tahoma",
    "FontSize=8",
    "HoverEvent=changecolor 204,228,247",
    "LeaveEvent=fadecolor 246,247,249,100",
    "ClickEvent=changecolor 174,210,240",
    "",
    "[BottomEdge]",
    "Kind=bottom",
    "Align=mostbottom",
    "Image=border",
    "Height=4",
    "",
    "[LeftEdge]",
    "Kind=left",
    "Align=mostleft",
    "Image=border",
    "",
    "[RightEdge]",
    "Kind=right",
    "Align=mostright",
    "Image=border",
    "",
    "[Client]",
    "Kind=client",
    "Align=client",
    "Color=240,240,240",
    "",
    "[TopLeftCorner]",
    "Kind=topleft",
    "Align=topleft",
    "Left=0",
    "Top=0",
    "Width=12",
    "Height=3",
    "Image=border",
    "",
    "[TopRightCorner]",
    "Kind=topright",
    "Align=topright",
    "Left=12",
    "Top=0",
    "Width=12",
    "Height=3",
    "Image=border",
    "",
    "[BottomLeftCorner]",
    "Kind=bottomleft",
    "Align=bottomleft",
    "Left=0",
    "Top=4",
    "Width=16",
    "Height=4",
    "Image=grip",
    "",
    "[BottomRightCorner]",
    "Kind=bottomright",
    "Align=bottomright",
    "Left=16",
    "Top=4",
    "Image=grip",
    "",
    "[PopupMenu]",
    "Kind=popupmenu",
    "Color=252,252,253",
    "Child=PopupTop,PopupBottom,PopupLeft,PopupRight,PopupItem,PopupFill",
    "",
    "[PopupFill]",
    "Align=client",
    "Color=252,252,253",
    "",
    "[PopupTop]",
    "Align=mosttop",
    "Height=3",
    "Color=252,252,253",
    "Child=PopupTopLine",
    "",
    "[PopupTopLine]",
    "Align=mosttop",
    "Height=1",
    "Color=160,166,176",
    "",
    "[PopupBottom]",
    "Align=mostbottom",
    "Height=3",
    "Color=252,252,253",
    "Child=PopupBottomLine",
    "",
    "[PopupBottomLine]",
    "Align=mostbottom",
    "Height=1",
    "Color=160,166,176",
    "",
    "[PopupLeft]",
    "Align=mostleft",
    "Width=1",
    "Color=160,166,176",
    "",
    "[PopupRight]",
    "Align=mostright",
    "Width=1",
    "Color=160,166,176",
    "",
    "[PopupItem]",
    "Kind=popupmenuitem",
    "Align=top",
    "Height=22",
    "Color=252,252,253",
    "TextAlign=left",
    "TextColor=30,34,40",
    "DisabledTextColor=160,160,160",
    "FontName=Tahoma",
    "FontSize=8",
    "HoverEvent=changecolor 0,120,215;changetextcolor 255,255,255",
    "LeaveEvent=changecolor 252,252,253;changetextcolor 30,34,40",
    "",
    "[PageControl]",
    "Kind=pagecontrol",
    "Child=PageTab,PageClient",
    "",
    "[PageTab]",
    "Kind=pagecontroltab",
    "Transparency=0",
    "TextColor=30,34,40",
    "Child=TabActive,TabInactive",
    "",
    "[TabActive]",
    "Align=client",
    "Visible=tabactive",
    "TileStyle=stretch",
    "Image=tab_active",
    "",
    "[TabInactive]",
    "Align=client",
    "Visible=tabnoactive",
    "TileStyle=stretch",
    "Image=tab_inactive",
    "",
    "[PageClient]",
    "Kind=pagecontrolclient",
    "Color=255,255,255",
    "Child=PageClientTop,PageClientBottom,PageClientLeft,PageClientRight,PageClientFace",
    "",
    "[PageClientTop]",
    "Align=top",
    "Height=1",
    "Color=172,178,188",
    "",
    "[PageClientBottom]",
    "Align=bottom",
    "Height=1",
    "Color=172,178,188",
    "",
    "[PageClientLeft]",
    "Align=left",
    "Width=1",
    "Color=172,178,188",
    "",
    "[PageClientRight]",
    "Align=right",
    "Width=1",
    "Color=172,178,188",
    "",
    "[PageClientFace]",
    "Align=client",
    "Color=255,255,255",
    "",
]

with open(os.path.join(out, "config.osk"), "wb") as f:
    f.write("\r\n".join(osk).encode("ascii"))
for name, img in images:
    with open(os.path.join(out, name + ".bmp"), "wb") as f:
        f.write(img.bmp())
for name, data in sounds:
    with open(os.path.join(out, name + ".wav"), "wb") as f:
        f.write(data)
