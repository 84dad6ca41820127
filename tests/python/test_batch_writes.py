"""A run's outputs are written after each task's books are converted: every
output still lands whole under its own name, and a stopped run reports
exactly the books whose outputs are on disk."""

from pathlib import Path

import pytest

import kogane
from kogane import batch
from kogane.batch import BatchRun, Format, plan

SAMPLE = Path(__file__).resolve().parents[2] / "examples" / "sample-sjis.txt"


@pytest.fixture
def shelf(tmp_path):
    lib = tmp_path / "lib"
    for i in range(24):
        folder = lib / ("x" if i < 12 else "y")
        folder.mkdir(parents=True, exist_ok=True)
        (folder / f"b{i:02}.txt").write_bytes(SAMPLE.read_bytes() + f"\r\n第{i}節\r\n".encode("shift_jis"))
    return lib


def files_under(root: Path) -> list[str]:
    return sorted(p.relative_to(root).as_posix() for p in root.rglob("*") if p.is_file())


def test_every_output_written_whole_and_a_write_failure_names_its_file(shelf, tmp_path):
    out = tmp_path / "out"
    (out / "y" / "b13.html").mkdir(parents=True)  # a folder where one output should go
    results = kogane.convert_many([shelf], to="page", out=out, workers=1)
    in_memory = kogane.convert_many([shelf], to="page", workers=1)
    assert [r.index for r in results] == list(range(24))
    failed = [r for r in results if r.error]
    assert [r.error for r in failed] == [f"{out / 'y' / 'b13.html'}: cannot write: Is a directory"]
    assert files_under(out) == sorted(f"{r.label[:-4]}.html" for r in results if r.ok)
    for disk, mem in zip(results, in_memory):
        if disk.ok:
            assert Path(disk.target).read_bytes() == mem.output and disk.bytes_out == len(mem.output)
    assert "第23節" in Path(results[23].target).read_text(encoding="utf-8")


def test_a_stopped_run_reports_exactly_the_books_on_disk(shelf, tmp_path, monkeypatch):
    out = tmp_path / "out"
    jobs = plan([shelf], Format.HTML, out)
    real = batch.write_atomic
    calls = []

    def interrupted_on_the_third(path, data):
        calls.append(path)
        if len(calls) == 3:
            raise KeyboardInterrupt
        real(path, data)

    monkeypatch.setattr(batch, "write_atomic", interrupted_on_the_third)
    with BatchRun(jobs, Format.HTML, workers=1) as run:
        with pytest.raises(KeyboardInterrupt):
            list(run)
        finished = run.stop()
        left = run.not_done()
    assert [r.label for r in finished] == ["x/b00.txt", "x/b01.txt"]
    assert files_under(out) == ["x/b00.html", "x/b01.html"]  # no temporary file left beside them
    assert len(left) == 22 and left[0].label == "x/b02.txt"


def test_an_interrupted_write_leaves_nothing_under_either_name(tmp_path, monkeypatch):
    target = tmp_path / "book.html"
    target.write_bytes(b"old")

    def broken_write(fd, data):
        raise KeyboardInterrupt

    monkeypatch.setattr(batch.os, "write", broken_write)
    with pytest.raises(KeyboardInterrupt):
        batch.write_atomic(str(target), b"new")
    monkeypatch.undo()
    assert files_under(tmp_path) == ["book.html"] and target.read_bytes() == b"old"
