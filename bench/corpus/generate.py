#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the benchmark inputs into a folder, the same bytes on every run.

    generate.py OUTPUT_FOLDER

Files (a manifest.json beside them lists each with its item count):
  menu.xml            ~60 MB indented <Root><Menu> of <Item id name type>
                      elements with 2-3 children each, some text in Chinese
  menu_small.xml      the same shape with a tenth of the items (scaling checks)
  children.xml        one element with 1,000,000 children
  children_small.xml  one element with 100,000 children
  attributes.xml      200,000 elements of 8 attributes each
  attributes_small.xml 20,000 elements of 8 attributes each
  gb2312.xml          ~5 MB menu-like file encoded in GB2312
A file already present with the expected size is left as it is.
"""
import json
import os
import random
import sys

MENU_ITEMS = 310_000
CHILDREN = 1_000_000
ATTRIBUTE_ELEMENTS = 200_000
GB2312_ITEMS = 27_000
TYPES = ("command", "separator", "submenu", "toggle", "radio")
WORDS = ("Open", "Save", "Close", "Print", "Export", "Import", "Settings", "Help", "About",
         "Window", "Zoom", "Find", "Replace", "Undo", "Redo", "Paste", "Copy", "Cut")


def chinese(rng, length):
    """Random characters from the first level of GB2312 (rows 16-55), which
    every GB2312 encoder can write."""
    chars = []
    for _ in range(length):
        row = rng.randint(0xB0, 0xD7)
        col = rng.randint(0xA1, 0xF9 if row == 0xD7 else 0xFE)
        chars.append(bytes((row, col)).decode("gb2312"))
    return "".join(chars)


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace('"', "&quot;")


def menu_item(rng, n):
    word = WORDS[n % len(WORDS)]
    kind = TYPES[rng.randrange(len(TYPES))]
    lines = [f'    <Item id="K{n}" name="{word}{n}" type="{kind}">\n',
             f'      <Caption>{word} item number {n} &amp; more</Caption>\n',
             f'      <Command>cmd.{word.lower()}.{n:07d}</Command>\n']
    if n % 3 == 0:
        lines.append(f"      <Tip>{chinese(rng, 12)} {word}</Tip>\n")
    lines.append("    </Item>\n")
    return "".join(lines)


def write_menu(path, items, encoding="UTF-8"):
    rng = random.Random(items)
    parts = [f'<?xml version="1.0" encoding="{encoding}"?>\n<Root>\n  <Menu>\n']
    parts.extend(menu_item(rng, n) for n in range(items))
    parts.append("  </Menu>\n</Root>\n")
    data = "".join(parts).encode(encoding.lower())
    with open(path, "wb") as out:
        out.write(data)
    return len(data)


def write_children(path, count):
    parts = ["<?xml version=\"1.0\"?>\n<Root>\n"]
    parts.extend(f"  <C n=\"{n}\"/>\n" for n in range(count))
    parts.append("</Root>\n")
    data = "".join(parts).encode()
    with open(path, "wb") as out:
        out.write(data)
    return len(data)


def write_attributes(path, count):
    rng = random.Random(count)
    parts = ["<?xml version=\"1.0\"?>\n<Root>\n"]
    for n in range(count):
        attrs = " ".join(f'a{k}="{escape(WORDS[rng.randrange(len(WORDS))])}{n}"'
                         for k in range(8))
        parts.append(f"  <E {attrs}/>\n")
    parts.append("</Root>\n")
    data = "".join(parts).encode()
    with open(path, "wb") as out:
        out.write(data)
    return len(data)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    plan = [
        ("menu.xml", MENU_ITEMS, lambda p: write_menu(p, MENU_ITEMS)),
        ("menu_small.xml", MENU_ITEMS // 10, lambda p: write_menu(p, MENU_ITEMS // 10)),
        ("children.xml", CHILDREN, lambda p: write_children(p, CHILDREN)),
        ("children_small.xml", CHILDREN // 10, lambda p: write_children(p, CHILDREN // 10)),
        ("attributes.xml", ATTRIBUTE_ELEMENTS, lambda p: write_attributes(p, ATTRIBUTE_ELEMENTS)),
        ("attributes_small.xml", ATTRIBUTE_ELEMENTS // 10,
         lambda p: write_attributes(p, ATTRIBUTE_ELEMENTS // 10)),
        ("gb2312.xml", GB2312_ITEMS, lambda p: write_menu(p, GB2312_ITEMS, "GB2312")),
    ]
    manifest_path = os.path.join(folder, "manifest.json")
    manifest = {}
    if os.path.exists(manifest_path):
        with open(manifest_path) as f:
            manifest = json.load(f)
    for name, items, write in plan:
        path = os.path.join(folder, name)
        known = manifest.get(name)
        if known and known["items"] == items and os.path.exists(path) \
                and os.path.getsize(path) == known["bytes"]:
            continue
        size = write(path)
        manifest[name] = {"items": items, "bytes": size}
        print(f"{name}: {size / 1e6:.1f} MB, {items} items")
    with open(manifest_path, "w") as f:
        json.dump(manifest, f, indent=1)


if __name__ == "__main__":
    main()
