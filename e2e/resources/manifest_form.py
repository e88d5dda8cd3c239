#!/usr/bin/env python3
"""usage: manifest_form.py MANIFEST

Checks that the manifest is well-formed XML in the form that both Windows
XP and later read: an asm.v1 assembly of manifest version 1.0, and no
element declaring more than one namespace (Windows XP SP2's parser crashes
on such an element).  Prints PASS/FAIL lines; exit code 1 on a failure.
"""
import sys
import xml.dom.minidom

ASM_V1 = 'urn:schemas-microsoft-com:asm.v1'


def main():
    failures = 0

    def check(ok, what, detail=''):
        nonlocal failures
        print(('PASS ' if ok else 'FAIL ') + what + ('' if ok else ': ' + detail))
        failures += 0 if ok else 1

    try:
        doc = xml.dom.minidom.parse(sys.argv[1])
    except Exception as e:  # any parser error means not well-formed
        check(False, 'the manifest is well-formed XML', str(e))
        return 1
    check(True, 'the manifest is well-formed XML')
    root = doc.documentElement
    check(root.tagName == 'assembly' and root.getAttribute('xmlns') == ASM_V1
          and root.getAttribute('manifestVersion') == '1.0',
          'the root is an asm.v1 assembly of manifest version 1.0',
          '%s xmlns=%s' % (root.tagName, root.getAttribute('xmlns')))

    crowded = []
    stack = [root]
    while stack:
        e = stack.pop()
        names = [a for a in e.attributes.keys()
                 if a == 'xmlns' or a.startswith('xmlns:')]
        if len(names) > 1:
            crowded.append(e.tagName)
        stack.extend(c for c in e.childNodes if c.nodeType == c.ELEMENT_NODE)
    check(not crowded, 'no element declares more than one namespace',
          ', '.join(crowded))

    levels = doc.getElementsByTagName('requestedExecutionLevel')
    check(len(levels) == 1
          and levels[0].getAttribute('level') == 'requireAdministrator'
          and levels[0].getAttribute('uiAccess') == 'false',
          'one requestedExecutionLevel: requireAdministrator, uiAccess false',
          '%d found' % len(levels))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
