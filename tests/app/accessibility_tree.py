#!/usr/bin/python3
"""What a screen reader sees of the running shell, read over AT-SPI (pyatspi).

    accessibility_tree.py tree             the application's whole tree as JSON
    accessibility_tree.py press ROLE NAME  the first action of the object so named, done
                                           ("push button" "Open overlay")

The tree has one object per accessible: role, name, states that matter to a reader, the text
behind a text interface, and children. Run inside the shell's session bus; the accessibility
bus is found through it. Exits 2 when the shell is not on the bus, 3 when nothing is named so.
"""
import json
import sys

import pyatspi

APPLICATION = 'lumory'
STATES = {
    pyatspi.STATE_FOCUSED: 'focused',
    pyatspi.STATE_FOCUSABLE: 'focusable',
    pyatspi.STATE_SHOWING: 'showing',
    pyatspi.STATE_ACTIVE: 'active',
}
# Deep enough for a page inside the window's boxes, bounded against a cycle in a broken tree.
MAX_DEPTH = 60


def text_of(node):
    try:
        text = node.queryText()
    except NotImplementedError:
        return None
    return text.getText(0, text.characterCount)


def describe(node, depth=0):
    states = node.getState()
    entry = {
        'role': node.getRoleName(),
        'name': node.name or '',
        'states': sorted(label for state, label in STATES.items() if states.contains(state)),
        'children': [],
    }
    text = text_of(node)
    if text:
        entry['text'] = text
    if depth < MAX_DEPTH:
        for index in range(node.childCount):
            child = node.getChildAtIndex(index)
            if child is not None:
                entry['children'].append(describe(child, depth + 1))
    return entry


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        if app is not None and app.name == APPLICATION:
            return app
    return None


def find(node, role, name, depth=0):
    if node.getRoleName() == role and node.name == name:
        return node
    if depth >= MAX_DEPTH:
        return None
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        found = find(child, role, name, depth + 1) if child is not None else None
        if found is not None:
            return found
    return None


def main(arguments):
    app = application()
    if app is None:
        print('no application named %r on the accessibility bus' % APPLICATION, file=sys.stderr)
        return 2
    if arguments == ['tree']:
        json.dump(describe(app), sys.stdout)
        return 0
    if len(arguments) == 3 and arguments[0] == 'press':
        target = find(app, arguments[1], arguments[2])
        if target is None:
            print('no %s named %r' % (arguments[1], arguments[2]), file=sys.stderr)
            return 3
        target.queryAction().doAction(0)
        return 0
    print(__doc__, file=sys.stderr)
    return 64


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
