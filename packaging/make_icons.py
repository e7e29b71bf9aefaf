#!/usr/bin/env python3
"""Renders the window icon in the hicolor theme's usual sizes (run once; the PNGs are committed).

Uses the drawing of console/ui/resources/make_icons.py, so the menu shows the window's icon.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "console", "ui", "resources"))
import make_icons  # noqa: E402

SIZES = (16, 24, 32, 48, 64, 128, 256)


def main():
    out = os.path.join(HERE, "icons")
    os.makedirs(out, exist_ok=True)
    for size in SIZES:
        pixels = make_icons.render(size, make_icons.window_icon)
        make_icons.write_png(os.path.join(out, "%d.png" % size), size, pixels)


if __name__ == "__main__":
    main()
