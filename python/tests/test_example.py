"""The CSV example syncs users and downloads marks against a simulated node."""

import os
import subprocess
import sys
from pathlib import Path

import vedodiroz as nax

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "python"


def run(sim, tmp_path, users, *extra):
    return subprocess.run(
        [sys.executable, str(EXAMPLE / "sync_users.py"), sim.conn, str(users), str(tmp_path / "marks.csv"),
         "--protocol", "2", "--log", str(tmp_path / "host.log"), *extra],
        env=dict(os.environ, PYTHONPATH=str(EXAMPLE.parents[1] / "python")),
        capture_output=True, text=True, timeout=60,
    )  # fmt: skip


def test_sync_then_resync_then_unreachable(naxsim_factory, tmp_path):
    sim = naxsim_factory(protocol=2)
    first = run(sim, tmp_path, EXAMPLE / "users.csv")
    assert first.returncode == 0 and "users: 4 added, 0 edited, 0 deleted" in first.stderr
    assert (tmp_path / "marks.csv").read_text().splitlines()[0] == "id,time,event,direction,index"
    changed = tmp_path / "users.csv"
    changed.write_text("id,psw,name\n1001,4321,Maria Ortega\n1002,9999,Jon Haddad\n1005,5,New\n")
    second = run(sim, tmp_path, changed, "--prune")
    # 1001 lost its note, 1002 its password; 1003 and 1004 are not in the file
    assert second.returncode == 0 and "users: 1 added, 2 edited, 2 deleted" in second.stderr
    with nax.open(sim.conn, protocol=2) as link:
        assert sorted(u.id for u in link.users(1)) == [1001, 1002, 1005]
    sim.stop()
    third = run(sim, tmp_path, changed)
    assert third.returncode == 1 and "status 1013" in third.stderr
