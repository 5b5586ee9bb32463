# SPDX-License-Identifier: GPL-3.0-or-later
# The panel's two drop-down lists as a screen reader reads them over AT-SPI:
# each named by its current item, its items as children, its caption related
# as its label. Run by atspi_lists_check.sh on an accessibility bus of its own.
import sys
import time

import pyatspi

EXPECTED = {  # a list's caption: its items, and the one chosen at start
    "Port:": (["COM%d" % n for n in range(1, 10)], "COM1"),
    "Baudrate:": (["300", "600", "1200", "2400", "4800", "9600", "19200", "38400"], "9600"),
}


def panel():
    for _ in range(100):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "vantrel-panel":
                return app
        time.sleep(0.1)
    sys.exit("the panel never appeared on the accessibility bus")


def lists(node, found):
    if node.getRoleName() == "combo box":
        found.append(node)
    else:
        for child in node:
            lists(child, found)
    return found


def items(node):
    return [c.name for c in node if c.getRoleName() == "list item"] + [n for c in node if c.getRoleName() == "list" for n in items(c)]


def labels(node):
    return [r.getTarget(i).name for r in node.getRelationSet() if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
            for i in range(r.getNTargets())]


failures = []
found = lists(panel(), [])
captions = sorted(c for node in found for c in labels(node))
if captions != sorted(EXPECTED):
    failures.append("the lists' labels: %s" % captions)
for node in found:
    for caption in labels(node):
        expected_items, chosen = EXPECTED.get(caption, ([], ""))
        if node.name != chosen:
            failures.append("%s: named %r, not by its current item %r" % (caption, node.name, chosen))
        if items(node) != expected_items:
            failures.append("%s: items %s" % (caption, items(node)))
print("\n".join(failures) or "both lists read: name, items and label")
sys.exit(1 if failures else 0)
