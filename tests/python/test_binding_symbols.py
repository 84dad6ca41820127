"""The extension module shows the dynamic linker its init function and nothing else."""

import shutil
import subprocess
import sys

import pytest

from kogane import _kogane


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="ELF symbol tables only")
@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm (binutils)")
def test_only_the_init_function_is_exported():
    out = subprocess.run(
        ["nm", "-D", "--defined-only", _kogane.__file__], check=True, capture_output=True, text=True
    ).stdout
    # "<address> <type> <name>" per line; the name may carry a @version
    names = sorted(line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip())
    assert names == ["PyInit__kogane"]
