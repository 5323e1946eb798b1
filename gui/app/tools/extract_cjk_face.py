#!/usr/bin/python3
"""extract_cjk_face.py COLLECTION.ttc FAMILY OUT: writes the one face of a
font collection whose typographic family (name 16, else name 1) is FAMILY
as a font file of its own.

The GUI registers the font file beside it and uses its first family; the
Noto Sans CJK collections begin with the Japanese face, and the program
wants the Simplified Chinese one (Source Han Sans CN under Adobe's name).
"""
import sys

from fontTools.ttLib import TTCollection


def family_of(font):
    names = font["name"]
    return names.getDebugName(16) or names.getDebugName(1)


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    collection = TTCollection(argv[1], lazy=True)
    for font in collection.fonts:
        if family_of(font) == argv[2]:
            font.save(argv[3])
            return 0
    sys.stderr.write("extract_cjk_face.py: no face of family %r in %s\n" % (argv[2], argv[1]))
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
