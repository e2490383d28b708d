"""The CSV example syncs users and downloads marks against a simulated node."""

import csv
import os
import subprocess
import sys
from pathlib import Path

import pytest

import vedodiroz as nax

REPO = Path(__file__).resolve().parents[2]
EXAMPLE = REPO / "examples" / "python" / "sync_users.py"


def run(sim, tmp_path, *extra, users=REPO / "examples" / "python" / "users.csv", protocol=2):
    env = dict(os.environ, PYTHONPATH=str(REPO / "python"))
    return subprocess.run(
        [sys.executable, str(EXAMPLE), sim.conn, str(users), str(tmp_path / "marks.csv"),
         "--protocol", str(protocol), "--log", str(tmp_path / "host.log"), *extra],
        env=env, capture_output=True, text=True, timeout=60,
    )  # fmt: skip


@pytest.mark.parametrize("protocol", [1, 2], ids=["p1", "p2"])
def test_sync_then_resync(naxsim_factory, tmp_path, protocol):
    sim = naxsim_factory(protocol=protocol)
    first = run(sim, tmp_path, protocol=protocol)
    assert first.returncode == 0, first.stderr
    assert "users: 4 added, 0 edited, 0 deleted" in first.stderr
    with open(tmp_path / "marks.csv", newline="") as f:
        assert next(csv.reader(f)) == ["id", "time", "event", "direction", "index"]

    changed = tmp_path / "users.csv"
    changed.write_text("id,psw,name\n1001,4321,Maria Ortega\n1002,9999,Jon Haddad\n1005,5,New\n",
                       encoding="utf-8")  # fmt: skip
    second = run(sim, tmp_path, "--prune", users=changed, protocol=protocol)
    assert second.returncode == 0, second.stderr
    # 1001 lost its note, 1002 its password; 1003 and 1004 are not in the file
    if protocol == 2:
        assert "users: 1 added, 2 edited, 2 deleted" in second.stderr
    else:
        assert "users: 2 added, 0 edited, 2 deleted" in second.stderr  # 1002 replaced
    with nax.open(sim.conn, protocol=protocol) as link:
        users = {u.id: u for u in link.users(1)}
    assert sorted(users) == [1001, 1002, 1005]
    assert users[1002].psw == 9999


def test_unreachable_node_exits_with_the_error(naxsim_factory, tmp_path):
    sim = naxsim_factory()
    sim.stop()
    result = run(sim, tmp_path)
    assert result.returncode == 1 and "status 1013" in result.stderr
