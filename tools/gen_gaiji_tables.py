#!/usr/bin/env python3
"""Generate the gaiji lookup tables as compile-time perfect-hash maps.

Three tables, each keyed by exact UTF-8 bytes:
  - JIS X 0213 positions outside JIS X 0208 that map to one code point,
    keyed by canonical JIS text ("第3水準1-4-89", "第4水準2-82-4");
  - the positions that map to a base letter plus a combining mark (two code
    points);
  - gaiji descriptions from the TSV file (description TAB U+XXXX, or two
    code points "U+XXXX U+YYYY" for a base letter and its combining mark),
    with the second code point (0 when none) in a parallel array.

The JIS mapping comes from Python's euc_jis_2004 codec: plane 1 row r cell c
is the bytes A0+r A0+c, plane 2 is 8F A0+r A0+c.

Each table is laid out in slot order: key i of the pool sits in slot i, so a
lookup is one hash, one displacement read, one entry read and one key
comparison. The hash must match table_hash() in src/encoding/gaiji_tables.hpp,
and the JIS keys are spelled as jis_designation() in src/encoding/designation.hpp
spells them.

usage: gen_gaiji_tables.py OUTPUT DESCRIPTIONS_TSV
"""
import sys

MASK64 = (1 << 64) - 1
MASK32 = (1 << 32) - 1
MUL_LEN = 0x9E3779B97F4A7C15
MUL_WORD = 0xBF58476D1CE4E5B9
MUL_FINAL = 0x94D049BB133111EB

# Bits of the packed key word: pool offset << KEY_LEN_BITS | length.
KEY_LEN_BITS = 10

# Rows of JIS X 0213 that hold the positions missing from JIS X 0208.
PLANE1_ROWS = [*range(2, 16), 47, *range(84, 95)]
PLANE2_ROWS = [1, *range(3, 6), 8, *range(12, 16), *range(78, 95)]
PLANE1_COUNT = 1918
PLANE2_COUNT = 2436
SEQUENCE_COUNT = 25
# Where this system departs from the standard mapping: the white parentheses
# take their full-width forms.
OVERRIDES = {(1, 2, 54): 0xFF5F, (1, 2, 55): 0xFF60}


def table_hash(data: bytes, seed: int) -> int:
    h = (seed ^ (len(data) * MUL_LEN)) & MASK64
    i = 0
    n = len(data)
    while i + 8 <= n:
        w = int.from_bytes(data[i:i + 8], "little")
        h = ((h ^ w) * MUL_WORD) & MASK64
        h ^= h >> 31
        i += 8
    w = int.from_bytes(data[i:], "little")
    h = ((h ^ w) * MUL_WORD) & MASK64
    h ^= h >> 29
    h = (h * MUL_FINAL) & MASK64
    h ^= h >> 32
    return h


def mix32(x: int) -> int:
    x &= MASK32
    x ^= x >> 16
    x = (x * 0x7FEB352D) & MASK32
    x ^= x >> 15
    x = (x * 0x846CA68B) & MASK32
    x ^= x >> 16
    return x


def bucket_of(h: int, buckets: int) -> int:
    return ((h >> 32) * buckets) >> 32


def slot_of(h: int, disp: int, size: int) -> int:
    return (mix32((h & MASK32) ^ disp) * size) >> 32


def build_phf(keys):
    """Hash-and-displace, one key per slot and as many slots as keys.

    Returns (seed, displacement per bucket, keys in slot order, key index per
    slot). Buckets are placed largest first while the table is still empty."""
    n = len(keys)
    buckets = max(1, (n + 3) // 4)
    for seed in range(1, 1000):
        hashes = [table_hash(k, seed) for k in keys]
        if len(set(hashes)) != n:
            continue
        groups = [[] for _ in range(buckets)]
        for i, h in enumerate(hashes):
            groups[bucket_of(h, buckets)].append(i)
        order = sorted(range(buckets), key=lambda b: -len(groups[b]))
        taken = [None] * n
        disps = [0] * buckets
        ok = True
        for b in order:
            members = groups[b]
            if not members:
                continue
            for d in range(1 << 16):
                slots = [slot_of(hashes[i], d, n) for i in members]
                if len(set(slots)) == len(slots) and all(taken[s] is None for s in slots):
                    for i, s in zip(members, slots):
                        taken[s] = i
                    disps[b] = d
                    break
            else:
                ok = False
                break
        if ok:
            return seed, disps, [keys[i] for i in taken], taken
    raise SystemExit("no perfect hash found")


def c_string(data: bytes) -> str:
    """A C++ string literal; non-ASCII text stays as UTF-8 so the file reads."""
    out = []
    for ch in data.decode("utf-8"):
        if ch in '"\\':
            out.append("\\" + ch)
        elif ord(ch) < 0x20 or ord(ch) == 0x7F:
            out.append(f"\\{ord(ch):03o}")
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def emit_table(out, name, pairs, extra=None):
    """pairs: list of (key bytes, value). Writes the pool, entries and
    displacements; `extra` is a parallel list of per-key values written as
    <name>Second in slot order."""
    keys = [k for k, _ in pairs]
    values = dict(pairs)
    seed, disps, slot_keys, slot_index = build_phf(keys)
    offsets = []
    pool = bytearray()
    for k in slot_keys:
        offsets.append(len(pool))
        pool += k
    assert len(pool) < 1 << (32 - KEY_LEN_BITS), "key pool too large for packed entries"
    assert max(len(k) for k in keys) < 1 << KEY_LEN_BITS, "key too long for packed entries"
    out.write(f"// {name}: {len(keys)} keys, {len(pool)} pool bytes, {len(disps)} buckets.\n")
    out.write(f"inline constexpr char k{name}Pool[] =\n")
    for k in slot_keys:
        out.write(f"    {c_string(k)}\n")
    out.write("    ;\n")
    out.write(f"inline constexpr PhfEntry k{name}Entries[{len(keys)}] = {{\n")
    for off, k in zip(offsets, slot_keys):
        out.write(f"    {{0x{(off << KEY_LEN_BITS) | len(k):08X}u, 0x{values[k]:06X}u}},\n")
    out.write("};\n")
    out.write(f"inline constexpr uint16_t k{name}Disp[{len(disps)}] = {{\n")
    for i in range(0, len(disps), 12):
        out.write("    " + ", ".join(f"{d}" for d in disps[i:i + 12]) + ",\n")
    out.write("};\n")
    if extra is not None:
        out.write(f"inline constexpr uint32_t k{name}Second[{len(keys)}] = {{\n")
        for i in range(0, len(keys), 12):
            out.write("    " + ", ".join(f"0x{extra[j]:06X}u" for j in slot_index[i:i + 12]) + ",\n")
        out.write("};\n")
    out.write(
        f"inline constexpr PhfTable k{name}Table{{k{name}Pool, sizeof(k{name}Pool) - 1, "
        f"k{name}Entries, k{name}Disp, {len(keys)}u, {len(disps)}u, 0x{seed:X}u}};\n\n"
    )


def jis_text(plane: int, row: int, cell: int) -> bytes:
    return f"第{plane + 2}水準{plane}-{row}-{cell}".encode()


def decode(data: bytes, codec: str):
    try:
        return data.decode(codec)
    except UnicodeDecodeError:
        return None


def jis_positions():
    """(plane, row, cell) -> text for the positions outside JIS X 0208."""
    found = {}
    for row in range(1, 95):
        for cell in range(1, 95):
            raw = bytes([0xA0 + row, 0xA0 + cell])
            text = decode(raw, "euc_jis_2004")
            if text is None or decode(raw, "euc_jp") is not None:
                continue
            assert row in PLANE1_ROWS, f"unexpected plane 1 position {row}-{cell}"
            found[(1, row, cell)] = text
    for row in PLANE2_ROWS:
        for cell in range(1, 95):
            text = decode(bytes([0x8F, 0xA0 + row, 0xA0 + cell]), "euc_jis_2004")
            if text is not None:
                found[(2, row, cell)] = text
    for pos, cp in OVERRIDES.items():
        assert pos in found
        found[pos] = chr(cp)
    assert sum(1 for p in found if p[0] == 1) == PLANE1_COUNT, "plane 1 count"
    assert sum(1 for p in found if p[0] == 2) == PLANE2_COUNT, "plane 2 count"
    return found


def names_a_character_then_modifies_it(desc: str, cps) -> bool:
    """「圖」の「回」に代えて…: a character with a part changed is another
    character; the named one is the wrong answer, so such rows are left out
    (the reference then shows its description)."""
    body = desc[1:] if desc.startswith("「") else desc
    return len(cps) == 1 and len(body) > 2 and body[1] == "」" and ord(body[0]) == cps[0]


def read_descriptions(path):
    """(description bytes, first code point, second code point or 0)."""
    rows = []
    seen = set()
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t")
            assert len(fields) == 2, f"{path}:{lineno}: expected description TAB code point(s)"
            desc, codes = fields
            assert desc and desc not in seen, f"{path}:{lineno}: empty or repeated description"
            assert not any(ord(ch) < 0x20 for ch in desc), f"{path}:{lineno}: control character"
            cps = []
            for code in codes.split(" "):
                assert code.startswith("U+"), f"{path}:{lineno}: code point must be U+XXXX"
                cp = int(code[2:], 16)
                assert 0 < cp <= 0x10FFFF and not 0xD800 <= cp <= 0xDFFF, f"{path}:{lineno}: not a scalar"
                cps.append(cp)
            assert 1 <= len(cps) <= 2, f"{path}:{lineno}: one or two code points"
            seen.add(desc)
            if names_a_character_then_modifies_it(desc, cps):
                continue
            rows.append((desc.encode(), cps[0], cps[1] if len(cps) == 2 else 0))
    assert len(rows) > 8000, "description table looks truncated"
    return rows


def main() -> int:
    out_path, tsv_path = sys.argv[1], sys.argv[2]
    positions = jis_positions()
    single = []
    sequences = []
    for (plane, row, cell), text in sorted(positions.items()):
        key = jis_text(plane, row, cell)
        if len(text) == 1:
            single.append((key, ord(text)))
        else:
            assert len(text) == 2, f"{key.decode()} maps to {len(text)} code points"
            sequences.append((key, ord(text[0]), ord(text[1])))
    assert len(sequences) == SEQUENCE_COUNT, "sequence count"
    assert len(single) + len(sequences) == PLANE1_COUNT + PLANE2_COUNT
    descriptions = read_descriptions(tsv_path)

    with open(out_path, "w", encoding="utf-8") as out:
        out.write("// Generated by tools/gen_gaiji_tables.py from the euc_jis_2004 codec and\n")
        out.write("// data/gaiji-descriptions.tsv. Do not edit.\n\n")
        emit_table(out, "Jis", single)
        emit_table(out, "Sequence", [(k, a) for k, a, _ in sequences],
                   extra=[b for _, _, b in sequences])
        emit_table(out, "Description", [(k, a) for k, a, _ in descriptions],
                   extra=[b for _, _, b in descriptions])
    return 0


if __name__ == "__main__":
    sys.exit(main())
