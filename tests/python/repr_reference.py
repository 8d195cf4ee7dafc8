"""The repr text of a list of strings, written independently of the module, for comparison."""

import unicodedata

_SHORT = {'"': '\\"', "\\": "\\\\", "\n": "\\n", "\r": "\\r", "\t": "\\t", "\0": "\\0"}


def repr_item(text):
    out = []
    for ch in text:
        if ch in _SHORT:
            out.append(_SHORT[ch])
        elif unicodedata.category(ch) in ("Mn", "Me") or not ch.isprintable():
            out.append("\\u{%x}" % ord(ch))
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def repr_list(items):
    return "[" + ", ".join(repr_item(item) for item in items) + "]"
