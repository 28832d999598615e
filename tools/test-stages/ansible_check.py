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
# The image's code revision, from its PCI data structure (pointed to at 0x18).
pcir = int.from_bytes(image[0x18:0x1A], "little")
revision = f"0x{int.from_bytes(image[pcir + 0x12:pcir + 0x14], 'little'):04x}"
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
    folder = f"{work}/hosts/{host}/machine"
    return {n: open(f"{folder}/{n}", "rb").read() for n in sorted(os.listdir(folder))
            if n.startswith("flash-") and n.endswith(".bin")}  # not the chips' FILE.state


def failure(host):
    """The lines of the message that failed the host, and whether only the role's own checks
    failed it (no run of the program shows as a failed task with its output)."""
    failed = [r for _, h, r in results if h == host and r.get("failed")]
    if not failed:
        return [], True
    msg = failed[0].get("msg", "")
    lines = msg if isinstance(msg, list) else msg.splitlines()
    # The last word repeats the first line.
    if len(failed) != 2 or failed[-1].get("msg") != f"The host failed: {lines[0] if lines else ''}":
        return lines, False
    own = all(r.get("action") in ("ansible.builtin.fail", "ansible.builtin.assert")
              and "stdout" not in r for r in failed)
    return lines, own


def exists(host, path):
    return os.path.exists(f"{work}/hosts/{host}/{path}")


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

# The failed hosts stop the rollout after the first batch; the check run (good-2, late and
# left-out only) goes on.
# The second run, on hosts that did not fail, fails none.
batch = ["good-1", "good-2", "erase-fails", "no-270x", "current", "swapped"]
hosts = {"first": set(batch), "second": {"good-1", "no-270x", "current"},
         "check": {"good-2", "late", "left-out"}}[run]
check(status == (0 if run == "second" else 2), f"ansible-playbook ended with {status}")
check(set(stats) == hosts, f"hosts in the recap: {sorted(stats)}, not {sorted(hosts)}")
for host in ["late", "left-out"]:
    check(all(data[:len(image)] != image for data in flashes(host).values()), f"{host} was written")
# Each play's folder on the host goes at its end, in check mode too.
check(os.listdir(f"{work}/tmp") == [], f"left in the hosts' temporary folder: {os.listdir(f'{work}/tmp')}")
restarts = by_action("ansible.builtin.reboot")
check(all(outcome(r) == "skipped" for r in restarts.values()), f"a restart was not skipped: {restarts}")

if run == "check":
    # Another play holds good-2's lock: its probe ends with status 9, which fails it.
    check(stats["good-2"]["failures"] == 1, f"good-2: {stats['good-2']}")
    lines, own = failure("good-2")
    check(own and lines[:1] == [f"The probe (--list) ended with exit status 9: {role_table[9]}."],
          f"good-2: the failure says {lines}")
    # late has never been reached: probed from the play's folder (the package unpacked there),
    # reported as a host to update, and nothing stays; nothing is written, installed or fetched.
    check(stats["late"]["failures"] == 0, f"late: {stats['late']}")
    would = result("Report what the probe found", "late") or {}
    check(outcome(would) == "changed" and f"Would update 0000:02:00.0 with {os.path.basename(image_path)} "
          f"({hashlib.sha256(image).hexdigest()})" in would.get("msg", []), f"late: {would}")
    check(fetched("late") == [], f"check mode fetched backups: {fetched('late')}")
    check(outcome(result("Update the flashes (/s --json)", "late")) == "skipped", "check mode ran the update")
    check([c["part"]["name"] for c in fact("late", "vlm270fwupdate_controllers") or []] == ["MX25L(V)512(C)"],
          f"late: controllers {fact('late', 'vlm270fwupdate_controllers')}")
    check(fact("late", "vlm270fwupdate_left_out") == ["0000:20:00.0"], f"late: left out {fact('late', 'vlm270fwupdate_left_out')}")
    check(not exists("late", "program") and not exists("late", "work"), "check mode left files on late")
    # left-out has a controller on bus 0x10, which the program leaves out: failed, naming it.
    check(stats["left-out"]["failures"] == 1, f"left-out: {stats['left-out']}")
    lines, own = failure("left-out")
    # Its image is for another controller: refused with the program's reason, in the same message.
    check(own and any(line.startswith("0000:10:00.0: ") for line in lines)
          and any(line.startswith("0000:02:00.0 1f7c:2700 ") and "1f7c:2703" in line for line in lines),
          f"left-out: the failure says {lines}")
    check(set(restarts) == {"late"}, f"check mode: restart for {sorted(restarts)}")
    finish()

# The host without a 270X: reported and left out, never failed; what an earlier run copied
# there is removed, its backups and another's file stay.
check(stats["no-270x"]["failures"] == 0, "no-270x failed")
check(fact("no-270x", "vlm270fwupdate_present") is False, "no-270x: vlm270fwupdate_present is not false")
check(fact("no-270x", "vlm270fwupdate_controllers") == [], "no-270x: controllers found")
note = result("Report what the probe found", "no-270x") or {}
check(any(line.startswith("No 270X controller") for line in note.get("msg", [])), f"no-270x was not reported: {note}")
check(outcome(result("Update the flashes (/s --json)", "no-270x")) == "skipped", "no-270x: the update was not skipped")
check(sorted(os.listdir(f"{work}/hosts/no-270x/program")) == ["notes.txt"]
      and not exists("no-270x", f"work/{os.path.basename(image_path)}"),
      "no-270x: the copied files are still there, or another file is gone")
check(exists("no-270x", "work/backups/02-00-0-old.rom"), "no-270x: a backup was removed")

# The host already up to date: ok, not written, nothing backed up; its controller on bus 0x20 is
# left out as expected.
check(stats["current"]["failures"] == 0, "current failed")
check(fact("current", "vlm270fwupdate_current") is True, "current: vlm270fwupdate_current is not true")
check(fact("current", "vlm270fwupdate_left_out") == ["0000:20:00.0"], f"current: left out {fact('current', 'vlm270fwupdate_left_out')}")
check(outcome(result("Update the flashes (/s --json)", "current")) == "skipped", "current was written")
check(outcome(result("Back up every flash (--list --backup)", "current")) == "skipped", "current was backed up")
check(fetched("current") == [], "backups were fetched from current")

# The probe's facts: the controllers and their parts from each machine file, and the image.
parts = {"good-1": ["MX25L(V)512(C)", "W25X10B(C)L(V)"], "good-2": ["AT25F512A(B)"],
         "erase-fails": ["MX25L(V)512(C)", "W25X10B(C)L(V)"], "current": ["MX25L(V)512(C)"],
         "swapped": ["MX25L(V)512(C)"]}
for host, names in [(h, p) for h, p in parts.items() if h in hosts]:
    controllers = fact(host, "vlm270fwupdate_controllers") or []
    check([c["part"]["name"] for c in controllers] == names, f"{host}: parts {controllers}")
    found = fact(host, "vlm270fwupdate_image") or {}
    check(found.get("sha256") == hashlib.sha256(image).hexdigest(),
          f"{host}: the image that would be written is {found}")

if run == "first":
    # The host whose second flash cannot be erased: failed, never ok, by the role's own check of
    # the update's report: one line per controller with its cause, the status with its meaning for
    # an update, where the backups are; no raw report, no advice to restart.
    check(stats["erase-fails"]["failures"] == 1, f"erase-fails: {stats['erase-fails']}")
    update = result("Update the flashes (/s --json)", "erase-fails")
    check((update or {}).get("rc") == 5, f"erase-fails: the update ended with {(update or {}).get('rc')}")
    lines, own = failure("erase-fails")
    first = re.fullmatch(r"The update \(/s\) ended with exit status 5: ([^`]+)\.", lines[0] if lines else "")
    check(own and first is not None and "--" not in first.group(1), f"erase-fails: the failure begins {lines[:1]}")
    check("0000:02:00.0 1f7c:2700 MX25L(V)512(C): updated" in lines, f"erase-fails: {lines}")
    check(any(re.fullmatch(r"0000:03:00\.0 \S+ W25X10B\(C\)L\(V\): not updated: erase did not take: .+ on all 3 attempts", line) for line in lines),
          f"erase-fails: no cause for 0000:03:00.0 in {lines}")
    prefix = f"Backups of the flashes as they were, on the control node in {work}/fetched/erase-fails/: "
    backups = [line[len(prefix):].split(", ") for line in lines if line.startswith(prefix)]
    check(len(backups) == 1 and len(backups[0]) == 2 and set(backups[0]) <= set(fetched("erase-fails")),
          f"erase-fails: no line for its backups in {lines}")
    check(not any(re.search("reboot|restart|[{]", line, re.IGNORECASE) for line in lines),
          f"erase-fails: {lines}")
    check(fact("erase-fails", "vlm270fwupdate_updated") is not True, "erase-fails counted as updated")
    check(flashes("erase-fails").get("flash-03.bin", b"")[:len(image)] != image,
          "erase-fails: the faulty flash holds the image")
    check(len(fetched("erase-fails")) == 2, f"erase-fails: backups {fetched('erase-fails')}")

    # The host where another play replaced the image before the update: the update's own report
    # names the other image, which fails the host, never counted as updated.
    with open(f"{work}/other.rom", "rb") as f:
        other = f.read()
    check(stats["swapped"]["failures"] == 1, f"swapped: {stats['swapped']}")
    lines, own = failure("swapped")
    text = " ".join(lines)
    check(own and text.startswith("The update (/s) loaded ") and hashlib.sha256(other).hexdigest() in text
          and hashlib.sha256(image).hexdigest() in text, f"swapped: the failure says {lines}")
    check(fact("swapped", "vlm270fwupdate_updated") is not True, "swapped counted as updated")
    check(flashes("swapped").get("flash-02.bin", b"")[:len(other)] == other, "swapped: the stand-in did not act")
    check(outcome(result("Back up every flash (--list --backup)", "swapped")) == "skipped" and fetched("swapped") == [],
          "swapped: backed up with vlm270fwupdate_backup false")

    # The good hosts: updated, verified, the program installed, their backups fetched.
    for host in ["good-1", "good-2"]:
        check(stats[host]["failures"] == 0 and stats[host]["changed"] > 0, f"{host}: {stats[host]}")
        check(outcome(result("Update the flashes (/s --json)", host)) == "changed", f"{host} was not updated")
        check(outcome(result("Verify the flashes (--verify --json)", host)) == "ok", f"{host}: not verified")
        check(fact(host, "vlm270fwupdate_updated") is True, f"{host}: vlm270fwupdate_updated is not true")
        check(exists(host, "program/vlm270fwupdate"), f"{host}: the program was not installed")
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
        # Each controller's outcome, then its firmware before and after: the image's revision.
        summary = (result("Report the update", host) or {}).get("msg", [])
        n = len(parts[host])
        check(len(summary) == 2 * n and all(line.endswith(": updated") for line in summary[:n])
              and all(re.fullmatch(rf"0000:\S+ 1f7c:\S+ .+ -> (code revision )?{revision}", line)
                      for line in summary[n:]), f"{host}: summary {summary}")
        versions = fact(host, "vlm270fwupdate_versions") or []
        check(len(versions) == n and all(v["after"] == revision for v in versions), f"{host}: versions {versions}")
    # The restart would have run on exactly the hosts updated.
    updated = {h for h in batch if fact(h, "vlm270fwupdate_updated")}
    check(set(restarts) == updated == {"good-1", "good-2"},
          f"restart for {sorted(restarts)}, updated {sorted(updated)}")

if run == "second":
    for host in sorted(hosts):
        check(stats[host]["changed"] == 0 and stats[host]["failures"] == 0, f"{host}: {stats[host]}")
    check(fact("good-1", "vlm270fwupdate_current") is True, "good-1: not current")
    check(len(fetched("good-1")) == len(parts["good-1"]), f"good-1: backups again: {fetched('good-1')}")
    check(set(restarts) == set(), f"restart for {sorted(restarts)}")

finish()
