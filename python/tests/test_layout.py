"""The package's record layouts, statuses and prototypes against include/vedodiroz.h."""

from pathlib import Path

import pytest

from vedodiroz import _native as nax_native

from layout_check import header_functions, problems

HEADER = Path(__file__).resolve().parents[2] / "include" / "vedodiroz.h"


def test_tables_match_the_header():
    assert problems(HEADER) == []


def test_every_header_function_is_bound():
    functions = header_functions(HEADER.read_text())
    assert sorted(nax_native.FUNCTIONS) == sorted(functions)


# Each edit changes one thing in a copy of the header; the check must notice it.
MUTATIONS = [
    ("wider field", "  uint16_t psw;\n  uint8_t st;", "  uint32_t psw;\n  uint8_t st;"),
    ("renamed field", "  uint8_t bio_level;", "  uint8_t bio_lvl;"),
    ("field added in padding", "  char code[11];\n} nax_mark;",
     "  char code[11];\n  uint8_t spare;\n} nax_mark;"),
    ("fields swapped", "  uint8_t event;\n  uint8_t direction;\n  nax_date_time time;",
     "  uint8_t direction;\n  uint8_t event;\n  nax_date_time time;"),
    ("signedness", "  int32_t ev_in_condition;", "  uint32_t ev_in_condition;"),
    ("status renumbered", "X(NAX_ERR_NODE_LOST, 1063,", "X(NAX_ERR_NODE_LOST, 1064,"),
    ("parameter added", "nax_block_node(int32_t link_id, uint16_t node, uint8_t value);",
     "nax_block_node(int32_t link_id, uint16_t node, uint8_t value, int32_t x);"),
]  # fmt: skip


@pytest.mark.parametrize("name,old,new", MUTATIONS, ids=[m[0] for m in MUTATIONS])
def test_a_changed_header_is_caught(tmp_path, name, old, new):
    text = HEADER.read_text()
    assert text.count(old) == 1, f"mutation {name!r} no longer applies to the header"
    changed = tmp_path / "vedodiroz.h"
    changed.write_text(text.replace(old, new))
    assert problems(changed) != []
