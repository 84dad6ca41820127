"""python -m kogane: the same program as the `kogane` command.

`python -m kogane FILE` converts one file (Shift_JIS or UTF-8) to the HTML
fragment on standard output, as `kogane convert FILE` does.
"""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
