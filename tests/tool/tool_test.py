#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs the xmlutil command-line tool as a user or a script would: exit
statuses, standard output, the one-line error message, and the files that the
editing subcommands write (in place and with -o).

Usage: tool_test.py --tool PATH/TO/xmlutil --data examples/data [TestGroup ...]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

TOOL = ""
DATA = ""

NAMES = ["文件", "编辑", "视图", "帮助"]
ERROR_LINE = re.compile(r"^xmlutil [a-z-]+: .*0x[0-9A-F]{8} [A-Z_0-9()]+\n$")


class Result:
    def __init__(self, completed):
        self.status = completed.returncode
        self.out = completed.stdout.decode("utf-8")
        self.err = completed.stderr.decode("utf-8", "replace")


def xmlutil(*args, stdin=None, stdout=subprocess.PIPE, timeout=120):
    """Runs the tool; arguments may be str or bytes (bytes pass as they are).
    `stdin` is bytes to pipe in or an open file; `stdout` may be an open file."""
    argv = [TOOL] + [a if isinstance(a, bytes) else a.encode("utf-8") for a in args]
    piped = isinstance(stdin, bytes)
    completed = subprocess.run(argv, input=stdin if piped else None,
                               stdin=None if piped else (stdin or subprocess.DEVNULL),
                               stdout=stdout, stderr=subprocess.PIPE, timeout=timeout)
    if completed.stdout is None:
        completed.stdout = b""
    return Result(completed)


class ToolCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="xmlutil-tool-")
        self.addCleanup(shutil.rmtree, self.dir)

    def sample(self, name="menu.xml"):
        """A private copy of a bundled sample (the bundled files are never edited)."""
        path = os.path.join(self.dir, name)
        shutil.copyfile(os.path.join(DATA, name), path)
        return path

    def write(self, name, text, encoding="utf-8"):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(text.encode(encoding))
        return path

    @staticmethod
    def read_bytes(path):
        with open(path, "rb") as f:
            return f.read()

    def assertDone(self, result, out=None):
        self.assertEqual(result.status, 0, result.err)
        self.assertEqual(result.err, "")
        if out is not None:
            self.assertEqual(result.out, out)

    def assertFailed(self, result, subcommand, *fragments, status=2):
        """Status 2 (or the one given), nothing on stdout, one stderr line naming
        the subcommand and the result code in hex with its name."""
        self.assertEqual(result.status, status, result.out + result.err)
        self.assertEqual(result.out, "")
        self.assertRegex(result.err, ERROR_LINE)
        self.assertTrue(result.err.startswith("xmlutil %s: " % subcommand), result.err)
        for fragment in fragments:
            self.assertIn(fragment, result.err)

    def assertNoMatch(self, result, out=""):
        self.assertEqual(result.status, 1, result.err)
        self.assertEqual(result.out, out)
        self.assertIn("no node matches", result.err)

    def assertUsage(self, result, *fragments):
        self.assertEqual(result.status, 64, result.out + result.err)
        self.assertEqual(result.out, "")
        for fragment in fragments:
            self.assertIn(fragment, result.err)


class Usage(ToolCase):
    SUBCOMMANDS = ["get", "values", "count", "xml", "children", "attr", "attrs", "set",
                   "set-attr", "append", "remove", "clear", "merge-menu", "new", "stamp", "id"]

    def test_help_lists_every_subcommand_and_the_exit_statuses(self):
        for flag in ("--help", "-h", "help"):
            result = xmlutil(flag)
            self.assertDone(result)
            for name in self.SUBCOMMANDS:
                self.assertRegex(result.out, r"\n  %s " % re.escape(name))
            self.assertIn("-o OUT", result.out)
            self.assertIn("64 usage error", result.out)

    def test_subcommand_help_shows_its_usage(self):
        for name in self.SUBCOMMANDS:
            for argv in ([name, "--help"], ["help", name], [name, "file.xml", "-h"]):
                result = xmlutil(*argv)
                self.assertDone(result)
                self.assertTrue(result.out.startswith("Usage: xmlutil " + name), result.out)
        self.assertIn("[-o OUT]", xmlutil("set", "--help").out)
        self.assertNotIn("-o OUT", xmlutil("get", "--help").out)

    def test_mistyped_subcommand_suggests_the_nearest(self):
        for typed, meant in [("gte", "get"), ("sett", "set"), ("mergemenu", "merge-menu"),
                             ("set_attr", "set-attr"), ("childs", "children"), ("cout", "count")]:
            self.assertUsage(xmlutil(typed, "file.xml"), "unknown subcommand '%s'" % typed,
                             "did you mean '%s'?" % meant)
        result = xmlutil("frobnicate")
        self.assertUsage(result, "unknown subcommand")
        self.assertNotIn("did you mean", result.err)

    def test_wrong_arguments_are_usage_errors(self):
        menu = self.sample()
        before = self.read_bytes(menu)
        cases = [
            [],
            ["--frobnicate"],
            ["get", menu],
            ["format", menu, "extra"],
            ["get", menu, "/Root", "-o", "out.xml"],  # queries take no -o
            ["values", menu, "--all", "/Root"],
            ["get", "-N", "nocolon", menu, "/Root"],
            ["format", menu, "--indent", "4", "--compact"],
            ["set", menu, "/Root/Config/Theme"],
            ["set-attr", menu, "/Root", "a"],
            ["append", menu, "/Root"],
            ["append", menu, "/Root", "a", "b", "c"],
            ["merge-menu", menu, "/Root/Menu"],
            ["set", menu, "/Root/Config/Theme", "x", "-o"],
            ["set", menu, "/Root/Config/Theme", "x", "-o", self.dir + "/a.xml", "-o",
             self.dir + "/b.xml"],
            ["set", menu, "/Root/Config/Theme", "x", "--output="],
            ["id", "extra"],
            ["help", "nosuch"],
        ]
        for argv in cases:
            with self.subTest(argv=argv):
                self.assertUsage(xmlutil(*argv), "xmlutil")
        self.assertEqual(self.read_bytes(menu), before)
        self.assertEqual(os.listdir(self.dir), ["menu.xml"])

    def test_output_that_cannot_be_written_is_a_failure(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full")
        # Query results, help texts and the version alike: nothing reached the
        # reader, so the run failed.
        cases = [
            (["values", os.path.join(DATA, "menu.xml"), "//Name"], "values"),
            (["id"], "id"),
            (["--help"], "--help"),
            (["-h"], "-h"),
            (["help"], "help"),
            (["help", "set"], "help"),
            (["get", "--help"], "get"),
            (["set", "file.xml", "-h"], "set"),
            (["--version"], "--version"),
        ]
        for argv, who in cases:
            with self.subTest(argv=argv):
                with open("/dev/full", "wb") as full:
                    completed = subprocess.run([TOOL] + argv, stdout=full,
                                               stderr=subprocess.PIPE, timeout=60)
                err = completed.stderr.decode()
                self.assertEqual(completed.returncode, 2, err)
                self.assertRegex(err, ERROR_LINE)
                self.assertTrue(err.startswith("xmlutil %s: " % who), err)
                self.assertIn("cannot write the output: "
                              "0x80070070 HRESULT_FROM_WIN32(ERROR_DISK_FULL)", err)

    def test_man_page_renders_and_completion_completes(self):
        tools = os.path.join(DATA, "..", "..", "tools", "xmlutil")
        page = subprocess.run(["man", "--warnings", "-l", os.path.join(tools, "xmlutil.1")],
                              capture_output=True, text=True, env=dict(os.environ, MANWIDTH="80"))
        self.assertEqual((page.returncode, page.stderr), (0, ""))
        for name in self.SUBCOMMANDS + ["check", "format", "EXIT STATUS", "--all", "-N PREFIX"]:
            self.assertIn(name, page.stdout)
        script = ("source %s; complete -p xmlutil;"
                  "COMP_WORDS=(xmlutil se); COMP_CWORD=1; _xmlutil; echo ${COMPREPLY[@]};"
                  "COMP_WORDS=(xmlutil values --n); COMP_CWORD=2; _xmlutil; echo ${COMPREPLY[@]};"
                  "cd %s; COMP_WORDS=(xmlutil get me); COMP_CWORD=2; _xmlutil; echo ${COMPREPLY[@]}"
                  % (os.path.join(tools, "xmlutil.bash"), DATA))
        done = subprocess.run(["bash", "--norc", "-c", script], capture_output=True, text=True)
        self.assertEqual(done.stdout.splitlines(),
                         ["complete -o filenames -F _xmlutil xmlutil", "set set-attr", "--null",
                          "menu-gb2312.xml menu.xml"])

    def test_version(self):
        result = xmlutil("--version")
        self.assertDone(result)
        self.assertRegex(result.out, r"^xmlutil \d+\.\d+\.\d+\n$")


class Queries(ToolCase):
    def setUp(self):
        super().setUp()
        self.menu = os.path.join(DATA, "menu.xml")

    def test_get_prints_the_first_match(self):
        self.assertDone(xmlutil("get", self.menu, '/Root/Menu/Item[@id="edit"]/Name'), "编辑\n")
        self.assertDone(xmlutil("get", self.menu, "//Name"), "文件\n")
        self.assertDone(xmlutil("get", self.menu, "/Root/Menu/Item[1]/@shortcut"), "Alt+F\n")
        # An element's text is its descendants' text; indentation is not text.
        self.assertDone(xmlutil("get", self.menu, "/Root/Config"), "zh-CN经典\n")

    def test_values_prints_every_match_in_document_order(self):
        self.assertDone(xmlutil("values", self.menu, "/Root/Menu/Item/Name"),
                        "".join(n + "\n" for n in NAMES))
        self.assertDone(xmlutil("values", self.menu, "//Item/@id"), "file\nedit\nview\nhelp\n")

    def test_count(self):
        self.assertDone(xmlutil("count", self.menu, "/Root/Menu/Item"), "4\n")
        self.assertDone(xmlutil("count", self.menu, "//@shortcut"), "3\n")
        self.assertNoMatch(xmlutil("count", self.menu, "/Root/Nothing"), out="0\n")

    def test_no_match_is_status_1_for_every_query(self):
        for argv in (["get", self.menu, "/Root/Nothing"],
                     ["values", self.menu, "/Root/Nothing"],
                     ["xml", self.menu, "/Root/Nothing"],
                     ["children", self.menu, "/Root/Nothing"],
                     ["attr", self.menu, "/Root/Nothing", "id"],
                     ["attrs", self.menu, "/Root/Nothing"]):
            with self.subTest(argv=argv):
                self.assertNoMatch(xmlutil(*argv))

    def test_xml_prints_the_document_or_the_first_match(self):
        whole = xmlutil("xml", self.menu)
        self.assertDone(whole)
        self.assertTrue(whole.out.startswith("<?xml"), whole.out)
        for name in NAMES + ["<Config", "</Root>"]:
            self.assertIn(name, whole.out)

        item = xmlutil("xml", self.menu, '/Root/Menu/Item[@id="view"]')
        self.assertDone(item)
        markup = re.sub(r"\s+", "", item.out)
        self.assertEqual(markup, '<Itemid="view"><Name>视图</Name><Command>menu.view</Command></Item>')

    def test_children_prints_type_and_name(self):
        self.assertDone(xmlutil("children", self.menu, "/Root/Menu/Item[1]"),
                        "element\tName\nelement\tCommand\n")
        mixed = self.write("mixed.xml", "<r><!--note--><a/>text<![CDATA[<raw>]]><?go now?>"
                                        "<p:b xmlns:p='urn:p'/></r>")
        self.assertDone(xmlutil("children", mixed, "/r"),
                        "comment\nelement\ta\ntext\ncdata\nprocessing-instruction\tgo\n"
                        "element\tp:b\n")
        self.assertDone(xmlutil("children", mixed, "/r/a"), "")

    def test_attributes(self):
        item = "/Root/Menu/Item[1]"
        self.assertDone(xmlutil("attr", self.menu, item, "shortcut"), "Alt+F\n")
        self.assertDone(xmlutil("attr", self.menu, item, "absent"), "\n")
        self.assertDone(xmlutil("attrs", self.menu, item), "id=file\nshortcut=Alt+F\n")
        self.assertDone(xmlutil("attrs", self.menu, "/Root/Menu"), "")
        # A text node has no attributes: the member answers S_FALSE.
        self.assertFailed(xmlutil("attrs", self.menu, item + "/Name/text()"), "attrs",
                          "GetNodeAttrs", "0x00000001 S_FALSE")

    def test_files_that_do_not_load(self):
        missing = os.path.join(self.dir, "missing.xml")
        self.assertFailed(xmlutil("get", missing, "/Root"), "get", missing,
                          ": No such file or directory: ", "ERROR_FILE_NOT_FOUND")
        broken = self.write("broken.xml", "<Root><Menu></Root>")
        self.assertFailed(xmlutil("count", broken, "/Root"), "count",
                          broken + ":1:20: not well-formed: Opening and ending tag mismatch",
                          "XMLUTIL_E_NOT_WELL_FORMED")
        self.assertFailed(xmlutil("xml", self.dir), "xml", ": Is a directory: ", "ERROR_DIRECTORY")

    def test_bad_expressions_fail_with_the_library_code(self):
        for argv in (["get", self.menu, "/Root/["],
                     ["values", self.menu, "/Root/["],
                     ["count", self.menu, "count(//Item)"]):
            with self.subTest(argv=argv):
                self.assertFailed(xmlutil(*argv), argv[0], self.menu, "0x80004005 E_FAIL")


class Edits(ToolCase):
    THEME = "/Root/Config/Theme"

    def test_set_in_place_keeps_text_exactly(self):
        menu = self.sample()
        text = "dark & <bold> \"quoted\" 'x'  two  spaces"
        self.assertDone(xmlutil("set", menu, self.THEME, text), "")
        self.assertDone(xmlutil("get", menu, self.THEME), text + "\n")
        # Everything else is still there.
        self.assertDone(xmlutil("values", menu, "/Root/Menu/Item/Name"),
                        "".join(n + "\n" for n in NAMES))

    def test_output_option_anywhere_leaves_the_input_alone(self):
        menu = self.sample()
        original = self.read_bytes(menu)
        # Before the subcommand it is not an option of the subcommand.
        self.assertUsage(xmlutil("-o", os.path.join(self.dir, "x.xml"), "set", menu, self.THEME,
                                 "v"), "unknown option")
        for n, argv in enumerate([["set", "-o", "{out}", menu, self.THEME, "v{n}"],
                                  ["set", menu, "-o", "{out}", self.THEME, "v{n}"],
                                  ["set", menu, self.THEME, "-o", "{out}", "v{n}"],
                                  ["set", menu, self.THEME, "v{n}", "-o", "{out}"],
                                  ["set", menu, self.THEME, "v{n}", "--output", "{out}"],
                                  ["set", menu, self.THEME, "v{n}", "--output={out}"]]):
            out = os.path.join(self.dir, "out%d.xml" % n)
            with self.subTest(argv=argv):
                self.assertDone(xmlutil(*[a.format(out=out, n=n) for a in argv]), "")
                self.assertDone(xmlutil("get", out, self.THEME), "v%d\n" % n)
                self.assertEqual(self.read_bytes(menu), original)

    def test_in_place_edit_keeps_links_and_permissions(self):
        real = self.sample()
        os.chmod(real, 0o600)
        link = os.path.join(self.dir, "link.xml")
        os.symlink("menu.xml", link)
        self.assertDone(xmlutil("set", link, self.THEME, "through the link"))
        self.assertTrue(os.path.islink(link))
        self.assertDone(xmlutil("get", real, self.THEME), "through the link\n")
        self.assertEqual(os.stat(real).st_mode & 0o777, 0o600)

    def test_read_only_files_stay_and_hard_links_share_the_edit(self):
        """No write permission bit: never written, whoever runs the tool (root
        too), in place or as -o OUT. A hard-linked file is edited for every name."""
        menu = self.sample()
        original = self.read_bytes(menu)
        copy = os.path.join(self.dir, "copy.xml")
        shutil.copyfile(menu, copy)
        os.chmod(menu, 0o444)
        out = self.write("out.xml", "<kept/>")
        os.chmod(out, 0o444)
        for argv, target in ((["set", menu, self.THEME, "x"], menu),
                             (["set", copy, self.THEME, "x", "-o", out], out)):
            with self.subTest(argv=argv):
                before = self.read_bytes(target)
                self.assertFailed(xmlutil(*argv), "set", "cannot save", "E_ACCESSDENIED")
                self.assertEqual(self.read_bytes(target), before)
        self.assertEqual(self.read_bytes(menu), original)
        os.chmod(menu, 0o644)
        other = os.path.join(self.dir, "other.xml")
        os.link(menu, other)
        self.assertDone(xmlutil("set", menu, self.THEME, "shared"))
        self.assertDone(xmlutil("get", other, self.THEME), "shared\n")

    def test_dash_text_passes_after_double_dash_or_as_is(self):
        menu = self.sample()
        self.assertDone(xmlutil("set", menu, self.THEME, "--", "-o"))
        self.assertDone(xmlutil("get", menu, self.THEME), "-o\n")
        self.assertDone(xmlutil("set", menu, self.THEME, "-5"))
        self.assertDone(xmlutil("get", menu, self.THEME), "-5\n")

    def test_set_attr_adds_and_replaces(self):
        menu = self.sample()
        item = "/Root/Menu/Item[2]"
        self.assertDone(xmlutil("set-attr", menu, item, "shortcut", "Ctrl+E"))
        self.assertDone(xmlutil("set-attr", menu, item, "hint", "a<b & \"c\""))
        self.assertDone(xmlutil("attrs", menu, item),
                        "id=edit\nshortcut=Ctrl+E\nhint=a<b & \"c\"\n")

    def test_append_adds_a_last_child(self):
        menu = self.sample()
        item = "/Root/Menu/Item[@id='help']"
        self.assertDone(xmlutil("append", menu, item, "Tooltip", "显示帮助"))
        self.assertDone(xmlutil("append", menu, item, "Separator"))
        self.assertDone(xmlutil("children", menu, item),
                        "element\tName\nelement\tCommand\nelement\tTooltip\nelement\tSeparator\n")
        self.assertDone(xmlutil("get", menu, item + "/Tooltip"), "显示帮助\n")
        self.assertDone(xmlutil("get", menu, item + "/Separator"), "\n")

    def test_append_whose_text_xml_cannot_hold_is_not_saved(self):
        # The library appends the element, then fails to set its text: the
        # element without its text must not reach the file.
        menu = self.sample()
        original = self.read_bytes(menu)
        out = os.path.join(self.dir, "out.xml")
        for text in ("a\x01b", "\ufffe", "tab\tok but not \x0b"):
            for extra in ([], ["-o", out]):
                with self.subTest(text=text, extra=extra):
                    result = xmlutil("append", menu, "/Root/Config", "Note", text, *extra)
                    self.assertFailed(result, "append", menu, "AppendChildNode",
                                      "0x80070057 E_INVALIDARG")
                    self.assertEqual(self.read_bytes(menu), original)
                    self.assertEqual(os.listdir(self.dir), ["menu.xml"])

    def test_remove_and_clear(self):
        menu = self.sample()
        self.assertDone(xmlutil("remove", menu, "/Root/Menu/Item[@id='view']"))
        self.assertDone(xmlutil("values", menu, "//Item/@id"), "file\nedit\nhelp\n")
        self.assertDone(xmlutil("remove", menu, "/Root/Menu/Item[1]/Name/text()"))
        self.assertDone(xmlutil("children", menu, "/Root/Menu/Item[1]/Name"), "")
        self.assertDone(xmlutil("clear", menu, "/Root/Menu"))
        self.assertDone(xmlutil("children", menu, "/Root/Menu"), "")
        self.assertDone(xmlutil("count", menu, "/Root/Config/*"), "2\n")

    def test_no_match_edits_change_nothing(self):
        menu = self.sample()
        original = self.read_bytes(menu)
        for argv in (["set", menu, "/Root/Nothing", "x"],
                     ["set-attr", menu, "/Root/Nothing", "a", "b"],
                     ["append", menu, "/Root/Nothing", "a"],
                     ["remove", menu, "/Root/Nothing"],
                     ["clear", menu, "/Root/Nothing"],
                     ["stamp", menu, "/Root/Nothing"]):
            with self.subTest(argv=argv):
                self.assertNoMatch(xmlutil(*argv))
                self.assertEqual(self.read_bytes(menu), original)

    def test_failing_edits_leave_the_file_intact(self):
        menu = self.sample()
        original = self.read_bytes(menu)
        text_node = "/Root/Menu/Item[1]/Name/text()"
        cases = [
            # Text XML cannot hold.
            (["set", menu, self.THEME, "bell\x07"], "E_INVALIDARG"),
            (["set-attr", menu, "/Root", "a", "nul\x01"], "E_INVALIDARG"),
            # A text node has no attributes.
            (["set-attr", menu, text_node, "a", "b"], "S_FALSE"),
            # Not UTF-8 on the command line.
            (["set", menu, self.THEME, b"\xff\xfe"],
             "HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)"),
            # A second document element, a name XML does not allow.
            (["append", menu, "/", "Second"], "only under an element"),
            (["append", menu, "/Root", "1bad"], "not a valid element name: 1bad"),
            # A file without a document element would not load again.
            (["remove", menu, "/Root"], "nothing written"),
            (["clear", menu, "/"], "nothing written"),
            # The target folder does not exist.
            (["set", menu, self.THEME, "x", "-o", os.path.join(self.dir, "no", "out.xml")],
             "cannot save"),
        ]
        for argv, fragment in cases:
            with self.subTest(argv=argv):
                self.assertFailed(xmlutil(*argv), argv[0], fragment)
                self.assertEqual(self.read_bytes(menu), original)
        self.assertEqual(sorted(os.listdir(self.dir)), ["menu.xml"])


class Encodings(ToolCase):
    def test_gb2312_file_is_shown_as_utf8(self):
        gb = os.path.join(DATA, "menu-gb2312.xml")
        self.assertIn("文件".encode("gb2312"), self.read_bytes(gb))
        self.assertDone(xmlutil("values", gb, "/Root/Menu/Item/Name"),
                        "".join(n + "\n" for n in NAMES))
        self.assertDone(xmlutil("get", gb, "/Root/Config/Theme"), "经典\n")
        whole = xmlutil("xml", gb, "/Root/Menu/Item[1]")
        self.assertDone(whole)
        self.assertIn("<Name>文件</Name>", whole.out)

    def test_printed_document_declares_utf8_and_loads_back(self):
        gb = os.path.join(DATA, "menu-gb2312.xml")
        printed = xmlutil("xml", gb)
        self.assertDone(printed)
        declaration = printed.out.split("?>", 1)[0]
        self.assertIn("UTF-8", declaration)
        self.assertNotIn("gb2312", declaration.lower())
        copy = self.write("printed.xml", printed.out)
        self.assertDone(xmlutil("values", copy, "/Root/Menu/Item/Name"),
                        "".join(n + "\n" for n in NAMES))

    def test_edit_of_a_gb2312_file_stays_gb2312(self):
        gb = self.sample("menu-gb2312.xml")
        self.assertDone(xmlutil("set", gb, "/Root/Menu/Item[1]/Name", "新文件"))
        saved = self.read_bytes(gb)
        self.assertIn(b'encoding="gb2312"', saved.lower().replace(b"'", b'"'))
        self.assertIn("新文件".encode("gb2312"), saved)
        self.assertNotIn("新文件".encode("utf-8"), saved)
        self.assertDone(xmlutil("get", gb, "/Root/Menu/Item[1]/Name"), "新文件\n")

    def test_characters_beyond_gb2312_survive(self):
        gb = self.sample("menu-gb2312.xml")
        text = "€ 😀 𝄞 é"
        self.assertDone(xmlutil("set", gb, "/Root/Config/Theme", text))
        self.assertDone(xmlutil("set-attr", gb, "/Root/Config", "sign", text))
        self.assertDone(xmlutil("get", gb, "/Root/Config/Theme"), text + "\n")
        self.assertDone(xmlutil("attr", gb, "/Root/Config", "sign"), text + "\n")

    def test_utf8_round_trip_of_every_plane(self):
        menu = self.sample()
        text = "ASCII é 中文 \U0001F600 \U0010FFFD"
        self.assertDone(xmlutil("set", menu, "/Root/Config/Theme", text))
        self.assertDone(xmlutil("get", menu, "/Root/Config/Theme"), text + "\n")
        self.assertIn(text.encode("utf-8"), self.read_bytes(menu))

    def test_malformed_utf8_arguments_are_refused(self):
        menu = os.path.join(DATA, "menu.xml")
        for bad in (b"\xc0\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe4\xb8"):
            with self.subTest(bad=bad):
                self.assertFailed(xmlutil("get", menu, b"/Root/" + bad), "get",
                                  "0x80070459 HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)")

    def test_file_names_in_utf8(self):
        path = self.sample()
        named = os.path.join(self.dir, "菜单.xml")
        os.rename(path, named)
        self.assertDone(xmlutil("count", named, "//Item"), "4\n")
        self.assertDone(xmlutil("set", named, "/Root/Config/Theme", "x"))
        self.assertDone(xmlutil("get", named, "/Root/Config/Theme"), "x\n")


class Menus(ToolCase):
    EXTRA = ["工具", "窗口"]

    def test_merge_appends_the_menu_entries_in_order(self):
        menu = self.sample()
        extra = os.path.join(DATA, "extra-menu.xml")
        self.assertDone(xmlutil("merge-menu", menu, "/Root/Menu", extra), "")
        self.assertDone(xmlutil("values", menu, "/Root/Menu/Item/Name"),
                        "".join(n + "\n" for n in NAMES + self.EXTRA))
        self.assertDone(xmlutil("get", menu, "/Root/Menu/Item[6]/@id"), "window\n")
        self.assertDone(xmlutil("merge-menu", menu, "/Root/Menu", extra))
        self.assertDone(xmlutil("count", menu, "/Root/Menu/Item"), "8\n")

    def test_merge_from_gb2312_with_output_option(self):
        menu = self.sample()
        original = self.read_bytes(menu)
        out = os.path.join(self.dir, "merged.xml")
        self.assertDone(xmlutil("merge-menu", "-o", out, menu, "/Root/Config",
                                os.path.join(DATA, "menu-gb2312.xml")))
        self.assertEqual(self.read_bytes(menu), original)
        self.assertDone(xmlutil("values", out, "/Root/Config/Item/Name"),
                        "".join(n + "\n" for n in NAMES))

    def test_bad_menu_files_fail_and_change_nothing(self):
        menu = self.sample()
        original = self.read_bytes(menu)
        lower = self.write("lower.xml", "<root><Menu><Item/></Menu></root>")
        nested = self.write("nested.xml", "<Root><Other><Menu><Item/></Menu></Other></Root>")
        broken = self.write("broken.xml", "<Root><Menu>")
        missing = os.path.join(self.dir, "missing.xml")
        for menu_file, fragment in ((lower, "has no /Root/Menu"), (nested, "has no /Root/Menu"),
                                    (broken, "not well-formed"), (missing, "No such file or directory")):
            with self.subTest(menu_file=menu_file):
                self.assertFailed(xmlutil("merge-menu", menu, "/Root/Menu", menu_file),
                                  "merge-menu", menu_file, fragment)
                self.assertEqual(self.read_bytes(menu), original)
        self.assertNoMatch(xmlutil("merge-menu", menu, "/Root/Nothing",
                                   os.path.join(DATA, "extra-menu.xml")))
        self.assertEqual(self.read_bytes(menu), original)

    def test_merge_that_cannot_place_the_entries_is_not_saved(self):
        # Under an attribute no element can be appended.
        menu = self.sample()
        original = self.read_bytes(menu)
        self.assertFailed(xmlutil("merge-menu", menu, "/Root/Config/@version",
                                  os.path.join(DATA, "extra-menu.xml")),
                          "merge-menu", "nothing written", "E_FAIL")
        self.assertEqual(self.read_bytes(menu), original)


class Identity(ToolCase):
    ID = re.compile(r"^Win32_([0-9A-F]{12})?\n$")

    def machine_id(self):
        result = xmlutil("id")
        self.assertDone(result)
        self.assertRegex(result.out, self.ID)
        return result.out

    def test_id_is_stable(self):
        self.assertEqual(self.machine_id(), self.machine_id())

    def test_new_creates_an_identified_document(self):
        path = os.path.join(self.dir, "new.xml")
        self.assertDone(xmlutil("new", path), "")
        saved = self.read_bytes(path)
        self.assertTrue(saved.startswith(b"<?xml"), saved)
        self.assertIn(b"gb2312", saved[:60].lower())
        self.assertDone(xmlutil("attr", path, "/Root", "ID"), self.machine_id())
        self.assertDone(xmlutil("children", path, "/Root"), "")

    def test_new_never_replaces_a_file(self):
        menu = self.sample()
        original = self.read_bytes(menu)
        self.assertFailed(xmlutil("new", menu), "new", menu,
                          "HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)")
        self.assertEqual(self.read_bytes(menu), original)
        self.assertFailed(xmlutil("new", os.path.join(self.dir, "no", "new.xml")), "new",
                          "cannot save")

    def test_new_leaves_only_the_file_with_a_plain_create_mode(self):
        # The document is written under a private name first: none may stay
        # behind, and the file gets the mode a plain create would give it.
        for mask, mode in ((0o022, 0o644), (0o077, 0o600)):
            with self.subTest(umask=oct(mask)):
                folder = tempfile.mkdtemp(dir=self.dir)
                path = os.path.join(folder, "new.xml")
                previous = os.umask(mask)
                try:
                    self.assertDone(xmlutil("new", path), "")
                finally:
                    os.umask(previous)
                self.assertEqual(os.listdir(folder), ["new.xml"])
                self.assertEqual(os.stat(path).st_mode & 0o777, mode)
                self.assertDone(xmlutil("count", path, "/Root/@ID"), "1\n")

    def test_new_takes_any_name_a_plain_create_takes(self):
        # Long names of many-byte characters, up to the file system's limit.
        for name in ("\u6587" * 67 + ".xml", "\u6587" * 83 + ".xm", "n" * 251 + ".xml"):
            with self.subTest(length=len(name.encode())):
                folder = tempfile.mkdtemp(dir=self.dir)
                path = os.path.join(folder, name)
                self.assertDone(xmlutil("new", path), "")
                self.assertEqual(os.listdir(folder), [name])
                self.assertDone(xmlutil("count", path, "/Root/@ID"), "1\n")

    def test_new_refusals_leave_the_folder_as_it_was(self):
        menu = self.sample()
        original = self.read_bytes(menu)
        os.symlink("nowhere.xml", os.path.join(self.dir, "dangling.xml"))
        os.symlink("menu.xml", os.path.join(self.dir, "link.xml"))
        os.mkdir(os.path.join(self.dir, "folder"))
        before = sorted(os.listdir(self.dir))
        for name in ("menu.xml", "dangling.xml", "link.xml", "folder"):
            with self.subTest(name=name):
                path = os.path.join(self.dir, name)
                self.assertFailed(xmlutil("new", path), "new", path, "already exists",
                                  "HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)")
                self.assertEqual(sorted(os.listdir(self.dir)), before)
        self.assertEqual(self.read_bytes(menu), original)
        self.assertEqual(os.readlink(os.path.join(self.dir, "dangling.xml")), "nowhere.xml")
        self.assertEqual(os.listdir(os.path.join(self.dir, "folder")), [])

    def test_stamp_sets_one_id(self):
        menu = self.sample()
        item = "/Root/Menu/Item[1]"
        self.assertDone(xmlutil("stamp", menu, item))
        self.assertDone(xmlutil("stamp", menu, item))
        machine = self.machine_id().strip()
        self.assertDone(xmlutil("attrs", menu, item),
                        "id=file\nshortcut=Alt+F\nID=%s\n" % machine)
        original = self.read_bytes(menu)
        self.assertFailed(xmlutil("stamp", menu, item + "/Name/text()"), "stamp", "S_FALSE")
        self.assertEqual(self.read_bytes(menu), original)


class Pipelines(ToolCase):
    def test_standard_input_is_loaded_as_a_file_is(self):
        gb2312 = self.read_bytes(os.path.join(DATA, "menu-gb2312.xml"))
        self.assertDone(xmlutil("values", "-", "//Item/Name", stdin=gb2312),
                        "".join(n + "\n" for n in NAMES))
        # Edited from a pipe into a pipe, in its own encoding.
        edited = subprocess.run([TOOL, "set", "-", "//Item[1]/Name", "新"], input=gb2312,
                                capture_output=True)
        self.assertEqual(edited.returncode, 0, edited.stderr)
        self.assertIn("新".encode("gb2312"), edited.stdout)
        self.assertDone(xmlutil("get", "-", "//Item[1]/Name", stdin=edited.stdout), "新\n")
        # The loader's safeguards hold: no outside entity, the depth limit.
        secret = self.write("secret.txt", "SECRET")
        hostile = '<!DOCTYPE a [<!ENTITY e SYSTEM "%s">]><a>&e;</a>' % secret
        self.assertNotIn("SECRET", xmlutil("get", "-", "/a", stdin=hostile.encode()).out)
        self.assertFailed(xmlutil("get", "-", "/a", stdin=b"<a>" * 300 + b"</a>" * 300), "get",
                          "(standard input):1:", "too deeply nested")
        self.assertFailed(xmlutil("check", "-", stdin=b""), "check", "(standard input): ",
                          "Document is empty")

    def test_edit_to_standard_output_feeds_a_pipe(self):
        menu = self.sample()
        original = self.read_bytes(menu)
        saved = os.path.join(self.dir, "saved.xml")
        self.assertDone(xmlutil("set", menu, "/Root/Config/Theme", "dark", "-o", saved))
        for out in ("-", "/dev/stdout"):
            result = xmlutil("set", menu, "/Root/Config/Theme", "dark", "-o", out)
            self.assertDone(result)
            self.assertEqual(result.out.encode("utf-8"), self.read_bytes(saved))
        self.assertEqual(self.read_bytes(menu), original)

    def test_appending_redirect_keeps_its_old_lines(self):
        menu = self.sample()
        log = self.write("log", "old line\n")
        for out in ("-", "/dev/stdout", "/proc/self/fd/1"):
            with open(log, "ab") as f:
                self.assertDone(xmlutil("set", menu, "/Root/Config/Theme", out, "-o", out,
                                        stdout=f))
        text = self.read_bytes(log).decode("utf-8")
        self.assertTrue(text.startswith("old line\n<?xml"), text[:40])
        self.assertEqual(text.count("<?xml"), 3)
        self.assertIn("<Theme>/proc/self/fd/1</Theme>", text)

    def test_fifo_without_a_writer_is_answered_at_once(self):
        fifo = os.path.join(self.dir, "fifo")
        os.mkfifo(fifo)
        # A path given twice is read twice, each answered on its own.
        for argv in (["get", fifo, "/a"], ["set", fifo, "/a", "x"], ["check", fifo, fifo]):
            with self.subTest(argv=argv):
                started = time.monotonic()
                result = xmlutil(*argv, timeout=10)
                self.assertLess(time.monotonic() - started, 1.0 * argv.count(fifo))
                self.assertEqual((result.status, result.out), (2, ""))
                for line in result.err.splitlines(keepends=True):
                    self.assertRegex(line, ERROR_LINE)
                    self.assertIn(fifo + ": nothing to read (a FIFO with no writer)", line)

    def test_devices_are_refused_not_read(self):
        self.assertFailed(xmlutil("get", "/dev/zero", "/a"), "get", "not a regular file")

    def test_several_files_prefix_each_record(self):
        menu = self.sample()
        other = self.write("other.xml", "<Root><Menu><Item id='x'/></Menu></Root>")
        empty = self.write("empty.xml", "<Root/>")
        result = xmlutil("values", menu, other, empty, "//Item/@id")
        self.assertEqual(result.status, 0, result.err)
        self.assertEqual(result.out, "".join("%s:%s\n" % (menu, i) for i in
                                             ("file", "edit", "view", "help")) + other + ":x\n")
        self.assertIn(empty + ": no node matches", result.err)
        # Status 1 only when no file matched; -q silences the message.
        self.assertEqual(xmlutil("count", "-q", empty, empty, "//Item").out,
                         "%s:0\n%s:0\n" % (empty, empty))
        self.assertEqual(xmlutil("count", "-q", empty, empty, "//Item").status, 1)
        self.assertEqual(xmlutil("count", "-q", empty, empty, "//Item").err, "")
        # A file that fails makes it 2, the others still print.
        result = xmlutil("get", other, os.path.join(self.dir, "missing"), "//Item/@id")
        self.assertEqual((result.status, result.out), (2, other + ":x\n"))

    def test_null_separated_records(self):
        menu = self.write("nl.xml", "<a><b>one\ntwo</b><b>three</b></a>")
        self.assertEqual(xmlutil("values", "-0", menu, "//b").out, "one\ntwo\0three\0")
        self.assertEqual(xmlutil("values", "--null", menu, menu, "//b").out,
                         "{0}\0one\ntwo\0{0}\0three\0".format(menu) * 2)
        self.assertEqual(xmlutil("attrs", "-0", menu, "/a").out, "")


class Everyday(ToolCase):
    def test_get_prints_the_value_of_an_expression(self):
        menu = self.sample()
        for xpath, value in [("count(//Item)", "4"), ("count(//Item) div 8", "0.5"),
                             ("string(//Item[2]/@id)", "edit"), ("//Item/@id = 'view'", "true"),
                             ("boolean(//Nothing)", "false"), ("1 div 0", "Infinity"),
                             ("number('x')", "NaN"), ("sum(//Item/@nothing)", "0")]:
            with self.subTest(xpath=xpath):
                self.assertDone(xmlutil("get", menu, xpath), value + "\n")
        self.assertFailed(xmlutil("get", menu, "count(//Item"), "get", "0x80004005 E_FAIL")

    def test_all_edits_every_match_and_reports_how_many(self):
        menu = self.sample()
        cases = [
            (["set", menu, "//Command", "off"], "//Command[. = 'off']", 4),
            (["set-attr", menu, "//Item", "on", "1"], "//Item[@on = '1']", 4),
            (["append", menu, "//Item", "Tip", "t"], "//Item/Tip", 4),
            (["remove", menu, "//Item[@shortcut]/Name"], "//Item/Name", 1),
            (["clear", menu, "//Item[Name]"], "//Item/*", 6),
        ]
        for argv, check, expected in cases:
            with self.subTest(argv=argv):
                result = xmlutil(*(argv + ["--all"]))
                self.assertEqual(result.status, 0, result.err)
                self.assertRegex(result.err, r"^xmlutil %s: .*: \d+ nodes? changed\n$" % argv[0])
                self.assertEqual(xmlutil("count", menu, check).out, "%d\n" % expected)

    def test_remove_an_attribute(self):
        menu = self.sample()
        self.assertDone(xmlutil("remove", menu, "//Item[@id='edit']/@shortcut"))
        self.assertEqual(xmlutil("attrs", menu, "//Item[@id='edit']").out, "id=edit\n")
        self.assertEqual(xmlutil("remove", "--all", menu, "//@shortcut").status, 0)
        self.assertEqual(xmlutil("count", menu, "//@shortcut").status, 1)
        self.assertEqual(xmlutil("count", menu, "//@id").out, "4\n")

    def test_xml_all_prints_each_match_on_its_own(self):
        menu = self.write("m.xml", "<a><b>1</b><c/><b><d/></b></a>")
        self.assertDone(xmlutil("xml", "--all", menu, "//b"), "<b>1</b>\n<b><d/></b>\n")

    def test_edit_past_the_loader_limits_leaves_the_file_as_it_was(self):
        menu = self.sample()
        original = self.read_bytes(menu)
        long_name = "n" * 50001
        for argv in (["set-attr", menu, "/Root", long_name, "v"],
                     ["append", "--all", menu, "//Item", long_name, "-o", "-"]):
            with self.subTest(argv=argv[:3]):
                self.assertFailed(xmlutil(*argv), argv[0], "limit of 50000 bytes",
                                  "limit of 10000000 bytes", "ERROR_FILE_TOO_LARGE")
                self.assertEqual(self.read_bytes(menu), original)
        self.assertDone(xmlutil("set-attr", menu, "/Root", "n" * 50000, "v"))

    def test_check_names_the_cause_and_the_line(self):
        good = self.sample()
        files = [
            ("tag.xml", b"<a>\n<b></a>\n", ":2:8: not well-formed: Opening and ending tag mismatch",
             "XMLUTIL_E_NOT_WELL_FORMED"),
            ("enc.xml", b'<?xml version="1.0" encoding="x-none"?>\n<a/>', ":1:",
             "unsupported encoding: Unsupported encoding x-none"),
            ("utf8.xml", b"<a>\n\n\xff</a>", ":3:1: unsupported encoding: Input is not proper UTF-8",
             "XMLUTIL_E_ENCODING"),
            ("deep.xml", b"<a>" * 300 + b"</a>" * 300, ":1:", "too deeply nested"),
            ("char.xml", b"<a>\n\x01</a>", ":2:1: not well-formed: PCDATA invalid Char", ""),
        ]
        paths = []
        for name, data, where, cause in files:
            paths.append(os.path.join(self.dir, name))
            with open(paths[-1], "wb") as f:
                f.write(data)
        self.assertDone(xmlutil("check", good, good), "")
        result = xmlutil("check", good, *paths)
        self.assertEqual((result.status, result.out), (2, ""))
        lines = result.err.splitlines(keepends=True)
        self.assertEqual(len(lines), len(files))
        for line, path, (name, data, where, cause) in zip(lines, paths, files):
            with self.subTest(file=name):
                self.assertRegex(line, ERROR_LINE)
                self.assertTrue(line.startswith("xmlutil check: " + path + where), line)
                self.assertIn(cause, line)

    def test_format_layouts_load_back_equal(self):
        menu = self.write("m.xml", "<a><b><c>x y</c></b><p xml:space='preserve'><q/> <q/></p>"
                                   "<m>t<i/></m></a>")
        default = xmlutil("format", menu)
        self.assertDone(default)
        self.assertIn("\n  <b>\n    <c>x y</c>\n  </b>", default.out)
        wide = xmlutil("format", "--indent", "4", menu)
        self.assertIn("\n    <b>\n        <c>x y</c>\n    </b>", wide.out)
        compact = xmlutil("format", "--compact", menu)
        self.assertNotIn("\n<b>", compact.out)
        for result in (default, wide, compact):
            with self.subTest(out=result.out):
                # Preserved space and mixed content stay as they were.
                self.assertIn("<p xml:space=\"preserve\"><q/> <q/></p>", result.out)
                self.assertIn("<m>t<i/></m>", result.out)
                self.assertDone(xmlutil("xml", "-", stdin=result.out.encode("utf-8")), None)
        out = os.path.join(self.dir, "out.xml")
        self.assertDone(xmlutil("format", "--indent=1", menu, "-o", out), "")
        self.assertIn("\n <b>", self.read_bytes(out).decode("utf-8"))


ATOM = "http://www.w3.org/2005/Atom"
FEED = """<feed xmlns="%s" xmlns:media="urn:media">
  <title>Feed</title>
  <entry><title>First</title><media:thumbnail url="a.png"/></entry>
  <entry><title>Second</title><media:thumbnail url="b.png"/></entry>
</feed>
""" % ATOM


class Namespaces(ToolCase):
    def setUp(self):
        super().setUp()
        self.feed = self.write("feed.atom", FEED)

    def test_atom_feed_with_bound_and_declared_prefixes(self):
        atom = ["-N", "a=" + ATOM]
        self.assertDone(xmlutil("values", *atom, self.feed, "//a:entry/a:title"), "First\nSecond\n")
        self.assertDone(xmlutil("get", self.feed, "//a:entry[2]/media:thumbnail/@url", *atom),
                        "b.png\n")
        self.assertDone(xmlutil("get", *atom, self.feed, "count(//a:entry[media:thumbnail])"), "2\n")
        # A -N binding comes before the document's own declaration.
        self.assertNoMatch(xmlutil("get", "-N", "media=urn:other", self.feed, "//media:thumbnail"))

    def test_default_namespace_through_a_prefix(self):
        menu = self.write("d.xml", "<Root xmlns='urn:menu' xmlns:x=\"urn:it's\"><Menu>"
                                   "<Item id='K7'>Open</Item></Menu><x:Note>n</x:Note></Root>")
        self.assertNoMatch(xmlutil("get", menu, "/Root/Menu/Item"))
        self.assertDone(xmlutil("get", "-N", "m=urn:menu", menu, "/m:Root/m:Menu/m:Item/@id"),
                        "K7\n")
        self.assertDone(xmlutil("get", "-N", "m=urn:menu", "-N", "y=urn:it's", menu,
                                "/m:Root/y:Note"), "n\n")
        self.assertDone(xmlutil("count", menu, "//_:Item"), "1\n")
        self.assertNoMatch(xmlutil("count", "-N", "_=urn:other", menu, "//_:Item"), "0\n")

    def test_unbound_prefix_is_named_and_nothing_changes(self):
        before = self.read_bytes(self.feed)
        for argv in (["get", self.feed, "//x:title"], ["get", self.feed, "count(//x:title)"],
                     ["values", self.feed, "//x:title"], ["count", self.feed, "//x:title"],
                     ["remove", "--all", self.feed, "//x:title"]):
            with self.subTest(argv=argv):
                self.assertFailed(xmlutil(*argv), argv[0], "prefix 'x'", "0x80004005 E_FAIL")
        self.assertFailed(xmlutil("get", "-N", "m=", self.feed, "/m:feed"), "get", "prefix 'm'")
        self.assertFailed(xmlutil("get", "-N", "m=urn:'\"", self.feed, "/m:feed"), "get",
                          "both kinds of quote", "E_INVALIDARG")
        self.assertEqual(self.read_bytes(self.feed), before)


def main():
    global TOOL, DATA
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--data", required=True)
    options, rest = parser.parse_known_args()
    TOOL = os.path.abspath(options.tool)
    DATA = os.path.abspath(options.data)
    if not os.access(TOOL, os.X_OK):
        sys.exit("tool_test.py: no xmlutil program at " + TOOL)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
