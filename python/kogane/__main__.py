"""python -m kogane FILE: convert one Kogane source file to HTML.

The file may be Shift_JIS or UTF-8. The HTML goes to standard output, the
diagnostics report to standard error.
"""

import sys

from . import Document


def main(argv: list[str]) -> int:
    if len(argv) != 1:
        print("usage: python -m kogane FILE", file=sys.stderr)
        return 2
    path = argv[0]
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        print(f"kogane: {path}: {e.strerror}", file=sys.stderr)
        return 1
    try:
        doc = Document.from_bytes(data)
    except ValueError as e:
        print(f"kogane: {path}: {e}", file=sys.stderr)
        return 1
    sys.stdout.buffer.write(doc.to_html().encode("utf-8"))
    sys.stdout.flush()
    report = doc.diagnostics_text()
    if report:
        sys.stderr.buffer.write(report.encode("utf-8"))
        sys.stderr.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
