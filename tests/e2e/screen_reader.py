# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads the program's windows through AT-SPI, as assistive technology does, and clicks on
what it finds there. The accessibility bus is looked up at the first query, so
harness.start_session_bus() may come after the import."""

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402
import pyatspi  # noqa: E402

from harness import check, click_at, wait_for  # noqa: E402


def application(pid, timeout=15.0):
    """The accessible application of process pid, read afresh on every access (no cache:
    texts change under our eyes)."""
    def find():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == pid:
                return app
        return None
    app = wait_for("the program on the accessibility bus", find, timeout)
    app.set_cache_mask(Atspi.Cache.NONE)
    return app


def windows(app):
    """The program's top-level windows by title."""
    return {window.name: window for window in app}


def window(app, title, timeout=10.0):
    return wait_for(f"the window {title!r}", lambda: windows(app).get(title), timeout)


def descendants(node, role=None):
    """Every accessible below node in tree order, of role (e.g. "slider") if given."""
    found = []
    for child in node:
        if role is None or child.getRoleName() == role:
            found.append(child)
        found += descendants(child, role)
    return found


def named(node, role, name):
    matches = [item for item in descendants(node, role) if item.name == name]
    check(len(matches) == 1, f"expected one {role} {name!r}, found {len(matches)}")
    return matches[0]


def extents(node):
    """(x, y, width, height) on the screen."""
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def click(node):
    x, y, width, height = extents(node)
    click_at(x + width // 2, y + height // 2)


def value(node):
    return node.queryValue().currentValue


def text(node):
    return node.queryText().getText(0, -1)


def label_texts(node):
    return [label.name for label in descendants(node, "label")]


def checked(node):
    return node.getState().contains(pyatspi.STATE_CHECKED)


def focus(node):
    return node.queryComponent().grabFocus()


def status_fields(main_window):
    """The texts of the status bar's fields, left to right: the labels of the child of the
    main window that lies along its bottom edge."""
    _, top, _, height = extents(main_window)
    bottom = top + height
    bars = [child for child in main_window
            if child.childCount and sum(extents(child)[1::2]) == bottom
            and all(field.getRoleName() == "label" for field in child)]
    check(len(bars) == 1, "no status bar along the bottom of the main window")
    return [field.name for field in sorted(bars[0], key=lambda field: extents(field)[0])]


def choose_menu_item(main_window, title, item):
    """Opens the menu `title` of the menu bar and clicks its item, with the mouse."""
    menu = named(main_window, "menu item", title)
    click(menu)
    entry = named(menu, "menu item", item)
    wait_for(f"the menu item {item!r}", lambda: entry.getState().contains(pyatspi.STATE_SHOWING))
    click(entry)
