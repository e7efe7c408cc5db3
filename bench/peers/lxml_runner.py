#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The benchmark suite's jobs done with Python lxml, the way its users write them.

    lxml_runner.py --job=NAME --corpus=DIR [--out=DIR] [--lookups=N] [--size=full|small]

Prints one JSON line like suite_bench's one-job mode (seconds, check figure,
peak memory). Run with Debian's /usr/bin/python3 and python3-lxml.
"""
import json
import sys
import time

from lxml import etree

BUILD_ELEMENTS = 1_000_000


def now():
    """Processor time (user + system) of this process: what the suite compares,
    as it varies far less than elapsed time on a shared machine."""
    return time.process_time()


def status_kb(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return -1


def parser():
    # Entities substituted, no network, indentation dropped: the same options
    # as the other engines.
    return etree.XMLParser(resolve_entities=True, no_network=True, remove_blank_text=True,
                           huge_tree=False)


class Jobs:
    def __init__(self, options):
        self.options = options

    def input(self, name):
        if self.options.get("size") == "small":
            name = name[:-4] + "_small.xml"
        return f"{self.options['corpus']}/{name}"

    def parse(self, name):
        return etree.parse(self.input(name), parser())

    @staticmethod
    def menu_items(tree):
        return sum(1 for menu in tree.getroot() for item in menu if isinstance(item.tag, str))

    def load(self):
        start = now()
        tree = self.parse("menu.xml")
        seconds = now() - start
        return seconds, self.menu_items(tree)

    def select_all(self):
        tree = self.parse("menu.xml")
        start = now()
        chars = 0
        for item in tree.xpath("//Item"):
            chars += len(item.get("id"))
        return now() - start, chars

    def lookup(self):
        tree = self.parse("menu.xml")
        with open(f"{self.options['corpus']}/manifest.json") as f:
            items = json.load(f)["menu.xml"]["items"]
        count = int(self.options.get("lookups", 1000))
        queries = [f"/Root/Menu/Item[@id='K{int((i + 0.5) * items / count)}']"
                   for i in range(count)]
        start = now()
        found = 0
        for query in queries:
            found += 1 if tree.xpath(query) else 0
        return now() - start, found

    def children(self):
        root = self.parse("children.xml").getroot()
        start = now()
        children = list(root)
        return now() - start, len(children)

    def attributes(self):
        root = self.parse("attributes.xml").getroot()
        start = now()
        chars = 0
        for element in root:
            names = list(element.attrib.keys())
            values = list(element.attrib.values())
            chars += sum(len(n) for n in names) + sum(len(v) for v in values)
        return now() - start, chars

    def build_save(self):
        path = f"{self.options.get('out', '/tmp')}/built_lxml.xml"
        start = now()
        root = etree.Element("Root")
        built = 0
        for i in range(BUILD_ELEMENTS):
            item = etree.SubElement(root, "Item", id=str(i))
            item.text = f"value {i}"
            built += 1
        etree.ElementTree(root).write(path, pretty_print=True, encoding="UTF-8")
        del root
        return now() - start, built

    def gb2312(self):
        out = f"{self.options.get('out', '/tmp')}/gb2312_lxml.xml"
        start = now()
        tree = self.parse("gb2312.xml")
        tree.write(out, pretty_print=True, encoding="GB2312", xml_declaration=True)
        seconds = now() - start
        return seconds, self.menu_items(tree)


def main():
    options = dict(arg[2:].split("=", 1) for arg in sys.argv[1:] if arg.startswith("--"))
    job = getattr(Jobs(options), options.get("job", ""), None)
    if job is None:
        print(json.dumps({"unsupported": True}))
        return
    before = status_kb("VmRSS")
    seconds, check = job()
    print(json.dumps({"seconds": seconds, "check": check, "peak_kb": status_kb("VmHWM"),
                      "base_kb": before}))


if __name__ == "__main__":
    main()
