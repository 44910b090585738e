#!/usr/bin/python3
"""Quillmere's main window as it opens, checked from outside the program on the real executable
under Wine: title, styles, size, the ten controls (class, text, id, style, geometry, enabled state,
font), the texts of the interface language that the locale gives, the Tab order, a window that
cannot be resized or maximised, and exit code 0 after closing it. Saves a screenshot."""

import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import expected as E  # noqa: E402
import qmui  # noqa: E402

LANG = qmui.language()

driver = None


def setUpModule():
    global driver
    driver = qmui.Driver()


def tearDownModule():
    if driver:
        driver.close()


def describe_units(text):
    return " ".join("U+%04X" % ord(c) for c in text)


class InitialWindow(unittest.TestCase):
    """One run, inspected once right after it opened."""

    @classmethod
    def setUpClass(cls):
        cls.app = qmui.App(driver)
        cls.view = driver.inspect()
        cls.window = cls.view["window"]
        cls.children = cls.view["children"]

    @classmethod
    def tearDownClass(cls):
        cls.app.stop()

    def test_main_window(self):
        w = self.window
        self.assertEqual(w["class"], E.MAIN_CLASS)
        self.assertEqual(w["title"], E.MAIN_TITLE, "the title is the same in both languages")
        self.assertEqual(w["style"] & ~E.MAIN_STYLE_ADDED, E.MAIN_STYLE,
                         "style 0x%08X, expected 0x%08X plus WS_VISIBLE|WS_CLIPSIBLINGS"
                         % (w["style"], E.MAIN_STYLE))
        self.assertTrue(w["style"] & E.WS_VISIBLE)
        self.assertEqual(w["style"] & (E.WS_THICKFRAME | E.WS_MAXIMIZEBOX), 0)
        self.assertEqual(w["exstyle"] & ~E.MAIN_EXSTYLE_ADDED, E.MAIN_EXSTYLE,
                         "extended style 0x%08X" % w["exstyle"])
        self.assertEqual((w["outer"]["width"], w["outer"]["height"]), E.MAIN_OUTER_SIZE)
        self.assertTrue(w["enabled"] and w["visible"])
        self.assertFalse(w["iconic"] or w["zoomed"])
        # The client area is the outer size less the frame and the title bar; every control lies
        # inside it.
        client = w["client"]
        self.assertLess(client["width"], E.MAIN_OUTER_SIZE[0])
        self.assertLess(client["height"], E.MAIN_OUTER_SIZE[1])
        for child in self.children:
            r = child["rect"]
            self.assertLessEqual(r["x"] + r["width"], client["width"], child["text"])
            self.assertLessEqual(r["y"] + r["height"], client["height"], child["text"])

    def test_ten_controls_in_creation_order(self):
        self.assertEqual(len(self.children), len(E.CONTROLS),
                         [c["class"] for c in self.children])
        self.assertEqual(self.view["enum_order"], [c["hwnd"] for c in self.children],
                         "EnumChildWindows and the sibling chain disagree on the order")
        for child, (role, cls, *_rest) in zip(self.children, E.CONTROLS):
            self.assertEqual(child["class"].upper(), cls, role)

    def test_control_ids_styles_and_geometry(self):
        for child, row in zip(self.children, E.CONTROLS):
            role, _cls, _key, cid, x, y, width, height, style, exstyle = row
            with self.subTest(control=role):
                self.assertEqual(child["id"], cid)
                live = child["style"]
                if role == "session list":
                    # The scroll bars are asked for but shown only when the list needs them.
                    self.assertEqual(live & ~E.LIST_SCROLL_BITS, style & ~E.LIST_SCROLL_BITS,
                                     "style 0x%08X" % live)
                else:
                    self.assertEqual(live, style, "style 0x%08X, expected 0x%08X" % (live, style))
                self.assertEqual(child["exstyle"], exstyle, "extended style 0x%08X" % child["exstyle"])
                self.assertEqual(child["rect"], {"x": x, "y": y, "width": width, "height": height})
                self.assertTrue(child["visible"])
                self.assertEqual(child["enabled"], role != "Cancel button")

    def test_texts_of_the_interface_language(self):
        for child, row in zip(self.children, E.CONTROLS):
            role, key = row[0], row[2]
            want = "" if key is None else E.text(key, LANG)
            with self.subTest(control=role):
                self.assertEqual(child["text"], want,
                                 "got %s, expected %s" % (describe_units(child["text"]),
                                                          describe_units(want)))

    def test_special_characters(self):
        browse = self.children[4]["text"]
        self.assertTrue(browse.endswith("\u2026"), describe_units(browse))
        self.assertNotIn("...", browse)
        for child in self.children:
            for bad in ("\u00a0", "\t", "\r", "\n"):
                self.assertNotIn(bad, child["text"], child["text"])
            self.assertEqual(child["text"], child["text"].strip(), "no leading or trailing blank")
        # Nothing of the other language leaks in.
        other = "en" if LANG == "ru" else "ru"
        for key in ("url_label", "save_as_label", "browse", "download", "cancel", "ready",
                    "history_label"):
            self.assertNotIn(E.text(key, other), [c["text"] for c in self.children])

    def test_every_control_uses_the_gui_font(self):
        for child, row in zip(self.children, E.CONTROLS):
            with self.subTest(control=row[0]):
                self.assertIsNotNone(child["font"], "the font could not be read")
                self.assertTrue(child["font"]["is_default_gui"],
                                "font %s is not DEFAULT_GUI_FONT" % child["font"])

    def test_common_controls_6(self):
        # Asked for by the manifest: from the side-by-side store, and only they answer
        # BCM_GETIDEALSIZE.
        self.assertIn("\\winsxs\\", self.view["common_controls"].lower())
        for child, row in zip(self.children, E.CONTROLS):
            self.assertEqual(child["ideal_size_answered"], row[1] == "BUTTON", row[0])

    def test_initial_state(self):
        self.assertEqual(self.view["status"], E.text("ready", LANG))
        self.assertEqual(self.view["list"], [])
        states = driver.enabled()
        self.assertEqual(states, {"window": True, "url": True, "target": True, "browse": True,
                                  "download": True, "cancel": False, "status": True,
                                  "list": True})

    def test_screenshot(self):
        path = qmui.screenshot(driver, "main-window-%s-%s" % (LANG, qmui.LANG.split(".")[0]))
        self.assertGreater(os.path.getsize(path), 1000)
        # One per language under a stable name for the documentation.
        if qmui.LANG in ("en_US.UTF-8", "ru_RU.UTF-8"):
            shutil.copyfile(path, os.path.join(qmui.OUT_DIR, "main-window-%s.png" % LANG))


class TabOrder(unittest.TestCase):
    """Tab and Shift+Tab, pressed on the keyboard, walk URL edit, Browse, Download; the disabled
    Cancel button is skipped and the walk wraps around."""

    @classmethod
    def setUpClass(cls):
        cls.app = qmui.App(driver)

    @classmethod
    def tearDownClass(cls):
        cls.app.stop()

    def focused(self):
        focus = driver("focus")["focus"]
        return None if focus is None or focus["index"] < 0 else focus["index"]

    def press(self, key):
        driver("key", key)
        return self.focused()

    def test_tab_order(self):
        url, browse, download = 1, 4, 5
        # The window takes the keyboard when Wine activates it, a moment after it appears.
        deadline = time.monotonic() + 3
        while self.focused() != url and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.focused(), url, "the keyboard starts in the link box")
        self.assertEqual(self.press("tab"), browse)
        self.assertEqual(self.press("tab"), download)
        self.assertEqual(self.press("tab"), url, "Cancel is disabled: Tab wraps to the URL edit")
        self.assertEqual(self.press("shift-tab"), download, "Shift+Tab skips Cancel backwards")
        self.assertEqual(self.press("shift-tab"), browse)
        self.assertEqual(self.press("shift-tab"), url)
        # The keys moved the focus only: nothing was typed or pressed.
        self.assertEqual(driver.text("url"), "")
        self.assertEqual(driver.status(), E.text("ready", LANG))
        driver.no_msgbox(300)


class FixedSize(unittest.TestCase):
    """The mouse can move and minimise the window, but not resize or maximise it."""

    @classmethod
    def setUpClass(cls):
        cls.app = qmui.App(driver)

    @classmethod
    def tearDownClass(cls):
        cls.app.stop()

    def outer(self):
        return driver.inspect()["window"]

    def test_frame_offers_no_sizing_border(self):
        codes = driver("hittest")["codes"]
        for edge, code in codes.items():
            self.assertNotIn(code, E.HT_SIZING, "the %s edge resizes (hit-test %d)" % (edge, code))

    def test_title_bar(self):
        runs = driver("caption")["runs"]
        codes = [r["code"] for r in runs]
        self.assertIn(E.HTCAPTION, codes)
        self.assertIn(E.HTMINBUTTON, codes)
        self.assertIn(E.HTCLOSE, codes)
        for run in runs:
            self.assertNotIn(run["code"], E.HT_SIZING, runs)

    def test_resize_and_maximise_by_mouse_do_nothing(self):
        before = self.outer()
        o = before["outer"]
        right, bottom = o["x"] + o["width"] - 1, o["y"] + o["height"] - 1
        after = driver("mouse", "drag", right, bottom, right + 80, bottom + 60)["window"]
        self.assertEqual((after["outer"]["width"], after["outer"]["height"]), E.MAIN_OUTER_SIZE,
                         "dragging the bottom-right corner resized the window")
        after = driver("mouse", "drag", o["x"], o["y"] + o["height"] // 2,
                       o["x"] - 40, o["y"] + o["height"] // 2)["window"]
        self.assertEqual((after["outer"]["width"], after["outer"]["height"]), E.MAIN_OUTER_SIZE,
                         "dragging the left edge resized the window")
        caption = driver("caption")
        y = caption["y"]
        title = [r for r in caption["runs"] if r["code"] == E.HTCAPTION][0]
        after = driver("mouse", "double-click", (title["x1"] + title["x2"]) // 2, y)["window"]
        self.assertFalse(after["zoomed"], "a double click on the title bar maximised the window")
        self.assertEqual((after["outer"]["width"], after["outer"]["height"]), E.MAIN_OUTER_SIZE)
        # Wine draws a (greyed) maximise box beside the minimise box; clicking it does nothing.
        for run in caption["runs"]:
            if run["code"] == E.HTMAXBUTTON:
                after = driver("mouse", "click", (run["x1"] + run["x2"]) // 2, y)["window"]
                self.assertFalse(after["zoomed"], "the maximise box maximised the window")
                self.assertEqual((after["outer"]["width"], after["outer"]["height"]),
                                 E.MAIN_OUTER_SIZE)

    def test_move_and_minimise_work(self):
        caption = driver("caption")
        y = caption["y"]
        title = [r for r in caption["runs"] if r["code"] == E.HTCAPTION][0]
        before = self.outer()["outer"]
        x = (title["x1"] + title["x2"]) // 2
        after = driver("mouse", "drag", x, y, x + 30, y + 20)["window"]
        self.assertEqual((after["outer"]["x"], after["outer"]["y"]),
                         (before["x"] + 30, before["y"] + 20), "the title bar moves the window")
        self.assertEqual((after["outer"]["width"], after["outer"]["height"]), E.MAIN_OUTER_SIZE)
        caption = driver("caption")
        minimise = [r for r in caption["runs"] if r["code"] == E.HTMINBUTTON][0]
        after = driver("mouse", "click", (minimise["x1"] + minimise["x2"]) // 2, caption["y"])
        self.assertTrue(after["window"]["iconic"], "the minimise box minimises the window")
        restored = driver("syscommand", "restore")["window"]
        self.assertFalse(restored["iconic"])
        self.assertEqual((restored["outer"]["width"], restored["outer"]["height"]),
                         E.MAIN_OUTER_SIZE)


class CloseIdle(unittest.TestCase):
    """Closing the idle window ends the program at once with exit code 0."""

    def test_close_exits_with_zero(self):
        app = qmui.App(driver)
        try:
            driver("close")
            driver("wait-gone", 5000)
            self.assertEqual(app.wait_exit(10), 0)
        finally:
            app.stop()


if __name__ == "__main__":
    qmui.run_tests()
