"""Checks one run of the Ansible role made by tools/test-stages/ansible.sh.

Usage: ansible_check.py RUN WORK IMAGE STATUS README ROLE_VARS
RUN is first, second or check; WORK/RUN.json is the run's JSON output, STATUS the exit status of
ansible-playbook. Prints one line per fault and ends with 1 when there is any.
"""
import hashlib
import json
import os
import re
import sys

import yaml

run, work, image_path, status, readme, role_vars = sys.argv[1:7]
status = int(status)
faults = []


def check(condition, what):
    if not condition:
        faults.append(what)
    return condition


def finish():
    for fault in faults:
        print(f"ansible: {run}: {fault}")
    sys.exit(1 if faults else 0)


with open(f"{work}/{run}.json") as f:
    output = json.load(f)
with open(image_path, "rb") as f:
    image = f.read()
stats = output["stats"]

# Every result of every host, by task name (the JSON callback files a rescue's results under
# the task last started, so the rescue's and the handler's are found by their action).
results = []
for play in output["plays"]:
    for task in play["tasks"]:
        name = task["task"]["name"].split(" : ", 1)[-1]
        for host, result in task["hosts"].items():
            results.append((name, host, result))


def result(task, host):
    found = [r for n, h, r in results if n == task and h == host]
    return found[-1] if found else None


def by_action(action):
    return {h: r for _, h, r in results if r.get("action") == action}


def outcome(r):
    if r is None:
        return "absent"
    if r.get("failed"):
        return "failed"
    if r.get("skipped"):
        return "skipped"
    return "changed" if r.get("changed") else "ok"


def fact(host, name):
    value = None
    for _, h, r in results:
        if h == host and name in r.get("ansible_facts", {}):
            value = r["ansible_facts"][name]
    return value


def flashes(host):
    folder = f"{work}/hosts/{host}/program"
    return {n: open(f"{folder}/{n}", "rb").read() for n in sorted(os.listdir(folder))
            if n.startswith("flash-") and n.endswith(".bin")}  # not the chips' FILE.state


def fetched(host):
    folder = f"{work}/fetched/{host}"
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


# The exit-status table of the role is the README's.
with open(readme) as f:
    section = f.read().split("### Exit statuses", 1)[1].split("\n### ", 1)[0]
readme_table = {int(m.group(1)): m.group(2) for m in
                re.finditer(r"^\| (\d+) \| (.*) \|$", section, re.MULTILINE)}
with open(role_vars) as f:
    role_table = yaml.safe_load(f)["vlm270fwupdate_exit_statuses"]
check(role_table == readme_table, f"the role's exit statuses differ from the README's: "
      f"{ {k: v for k, v in role_table.items() if readme_table.get(k) != v} }")

# The failed host stops the rollout after the first batch; the check run (good-1, good-2 and
# late only) goes on.
batch = ["good-1", "good-2", "erase-fails", "no-270x", "current"]
if run == "check":
    check(status == 2, f"ansible-playbook ended with {status}, not 2 (good-2 found its lock held)")
    check(set(stats) == {"good-1", "good-2", "late"}, f"hosts in the recap: {sorted(stats)}")
else:
    check(status == 2, f"ansible-playbook ended with {status}, not 2 (a failed host)")
    check(set(stats) == set(batch), f"hosts in the recap: {sorted(stats)}, not the first batch")
check(flashes("late") == {}, "the host of the second batch was written")

if run == "check":
    # good-1's flashes were reset: check mode says it would update it, and writes nothing.
    would = result("Report the update a real run would make", "good-1")
    check(outcome(would) == "changed", f"good-1: {would}")
    check(all(data[:len(image)] != image for data in flashes("good-1").values()),
          "check mode wrote good-1's flashes")
    check(len(fetched("good-1")) == 2, f"check mode fetched backups: {fetched('good-1')}")
    check(outcome(result("Update the flashes (/s --json)", "good-1")) == "skipped", "check mode ran the update")
    # Another play holds good-2's lock: its probe does not run, and it fails with status 9.
    check(stats["good-2"]["failures"] == 1, f"good-2: {stats['good-2']}")
    locked = by_action("ansible.builtin.fail").get("good-2", {}).get("msg", "")
    check(f"exit status 9: {role_table[9]}" in locked, f"good-2: the failure says {locked!r}")
    # late has never been reached: nothing is copied to it, and it is reported, not probed.
    check(os.listdir(f"{work}/hosts/late/program") == ["emulated-pc.conf"], "check mode copied to late")
    late = result("Report that check mode cannot probe this host yet", "late")
    check(outcome(late) == "ok", f"late: {late}")
    check(stats["late"]["failures"] == 0, f"late: {stats['late']}")
    restarts = by_action("ansible.builtin.reboot")
    check(set(restarts) == {"good-1"} and outcome(restarts["good-1"]) == "skipped",
          f"check mode: restart for {restarts}")
    finish()

# The host without a 270X: reported and left out, never failed.
check(stats["no-270x"]["failures"] == 0, "no-270x failed")
check(fact("no-270x", "vlm270fwupdate_present") is False, "no-270x: vlm270fwupdate_present is not false")
check(fact("no-270x", "vlm270fwupdate_controllers") == [], "no-270x: controllers found")
note = result("Report a host without a 270X controller", "no-270x")
check(note is not None and "No 270X controller" in note.get("msg", ""), f"no-270x was not reported: {note}")
check(outcome(result("Update the flashes (/s --json)", "no-270x")) == "skipped", "no-270x: the update was not skipped")

# The host already up to date: ok, not written, nothing backed up.
check(stats["current"]["failures"] == 0, "current failed")
check(fact("current", "vlm270fwupdate_current") is True, "current: vlm270fwupdate_current is not true")
check(outcome(result("Update the flashes (/s --json)", "current")) == "skipped", "current was written")
check(outcome(result("Back up every flash (--list --backup)", "current")) == "skipped", "current was backed up")
check(fetched("current") == [], "backups were fetched from current")

# The probe's facts: the controllers and their parts from each machine file, and the image.
parts = {"good-1": ["MX25L(V)512(C)", "W25X10B(C)L(V)"], "good-2": ["AT25F512A(B)"],
         "erase-fails": ["MX25L(V)512(C)", "W25X10B(C)L(V)"], "current": ["MX25L(V)512(C)"]}
for host, names in parts.items():
    controllers = fact(host, "vlm270fwupdate_controllers") or []
    check([c["part"]["name"] for c in controllers] == names, f"{host}: parts {controllers}")
    found = fact(host, "vlm270fwupdate_image") or {}
    check(found.get("sha256") == hashlib.sha256(image).hexdigest(),
          f"{host}: the image that would be written is {found}")

# The host whose second flash cannot be erased: failed, never ok or changed, with the
# program's meaning of exit status 5 and the controller that was not updated.
check(stats["erase-fails"]["failures"] == 1, f"erase-fails: {stats['erase-fails']}")
update = result("Update the flashes (/s --json)", "erase-fails")
check(outcome(update) == "failed" and (update or {}).get("rc") == 5,
      f"erase-fails: the update was {outcome(update)}, exit status {(update or {}).get('rc')}")
failure = by_action("ansible.builtin.fail").get("erase-fails", {}).get("msg", "")
check(f"exit status 5: {role_table[5]}" in failure, f"erase-fails: the failure says {failure!r}")
check("0000:03:00.0: not updated (erase did not take: " in failure
      and "on all 3 attempts)" in failure, f"erase-fails: {failure!r}")
check(fact("erase-fails", "vlm270fwupdate_updated") is False, "erase-fails counted as updated")
check(flashes("erase-fails").get("flash-03.bin", b"")[:len(image)] != image,
      "erase-fails: the faulty flash holds the image")
check(len(fetched("erase-fails")) == 2 * (1 if run == "first" else 2),
      f"erase-fails: backups {fetched('erase-fails')}")

restarts = by_action("ansible.builtin.reboot")
check(all(outcome(r) == "skipped" for r in restarts.values()), f"a restart was not skipped: {restarts}")

if run == "first":
    for host in ["good-1", "good-2"]:
        check(stats[host]["failures"] == 0 and stats[host]["changed"] > 0, f"{host}: {stats[host]}")
        check(outcome(result("Update the flashes (/s --json)", host)) == "changed", f"{host} was not updated")
        check(outcome(result("Verify the flashes (--verify --json)", host)) == "ok", f"{host}: not verified")
        check(fact(host, "vlm270fwupdate_updated") is True, f"{host}: vlm270fwupdate_updated is not true")
        for name, data in flashes(host).items():
            check(data[:len(image)] == image, f"{host}: {name} does not hold the image")
        # One backup per controller, of the flash as it was: its whole size, not the image.
        backups = fact(host, "vlm270fwupdate_backups") or []
        check(len(backups) == len(parts[host]) and fetched(host) == sorted(map(os.path.basename, backups)),
              f"{host}: backups {backups}, fetched {fetched(host)}")
        for path in backups:
            with open(path, "rb") as f:
                data = f.read()
            size = 131072 if "W25X10B" in path else 65536
            check(len(data) == size and data[:len(image)] != image, f"{host}: backup {path}")
    # The restart would have run on exactly the hosts updated.
    updated = {h for h in batch if fact(h, "vlm270fwupdate_updated")}
    check(set(restarts) == updated == {"good-1", "good-2"},
          f"restart for {sorted(restarts)}, updated {sorted(updated)}")

if run == "second":
    for host in ["good-1", "good-2", "no-270x", "current"]:
        check(stats[host]["changed"] == 0 and stats[host]["failures"] == 0, f"{host}: {stats[host]}")
    for host in ["good-1", "good-2"]:
        check(fact(host, "vlm270fwupdate_current") is True, f"{host}: not current")
        check(len(fetched(host)) == len(parts[host]), f"{host}: backups again: {fetched(host)}")
    check(set(restarts) == set(), f"restart for {sorted(restarts)}")

finish()
