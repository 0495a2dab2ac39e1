#!/usr/bin/env bash
# The rollout playbook (ansible/rollout.yml) over five simulated machines, in
# batches of two, with lromup-sim in place of the updater and of the reboot:
# batch 1 updates a Moro 320 and leaves alone a Moro 330 already up to date;
# in batch 2 a Moro 320 whose firmware locks BIOS writes fails its update,
# which stops the rollout, so batch 3 never starts.
# Usage: rollout.sh <lromup-sim> <ansible dir>
PLAYBOOK=$(cd "$2" && pwd)/rollout.yml
command -v ansible-playbook >/dev/null ||
    { echo "SKIPPED: no ansible-playbook (package ansible-core; scripts/deps.sh installs it)"; exit 77; }
. "$(dirname "$0")/../lib_e2e.sh" "$1" "$(dirname "$1")"
show() { timeout 20 "$SIM" show "$1" | grep -E "^($2):"; }
report() { python3 -c 'import json,sys; r=json.load(open(sys.argv[1])); print(r["status"], r["changed"])' "$1" 2>/dev/null; }

# One image per family; host b already holds its family's image.
for host in a:moro320 b:moro330 c:moro320 d:moro330 e:moro320; do
    extra=; [ "${host%%:*}" = c ] && extra=--ble
    tool 0 new "${host%%:*}" --model "${host#*:}" $extra
    mkdir -m 700 "${host%%:*}.reports"
done
tool 0 image a 61.bin --seed 1
tool 0 image b 62.bin --seed 2
tool 0 run b -- /p 62.bin
tool 0 reboot b
for host in a b c d e; do show "$host" 'sha256.primary|saved_runs' >"$host.before"; done

{
    echo "moro:"
    echo "  hosts:"
    for host in a b c d e; do echo "    $host: {machine: $WORK/$host}"; done
    echo "  vars:"
    echo "    ansible_connection: local"
    echo "    ansible_python_interpreter: $(command -v python3)"
    echo "    lromup_command: ['$SIM', run, '{{ machine }}', '--']"
    echo "    lromup_reboot_command: ['$SIM', reboot, '{{ machine }}']"
    echo "    lromup_report: '{{ machine }}.reports/report.json'"
} >inventory.yml
cat >vars.json <<VARS
{"lromup_images": {"61": "$WORK/61.bin", "62": "$WORK/62.bin"},
 "lromup_copy_image": false, "lromup_batch_size": 2}
VARS

last_cmd=ansible-playbook
ANSIBLE_NOCOLOR=1 ANSIBLE_LOCAL_TEMP=$WORK/tmp ANSIBLE_HOME=$WORK/ansible \
    timeout 300 ansible-playbook -i inventory.yml -e @vars.json "$PLAYBOOK" >play.log 2>&1
status=$?
expect_status 2  # a host failed

# The recap: what each host did, "changed" coming from the update's report.
recap() { grep -E "^$1 +:" play.log | tr -s ' '; }
for want in "a:ok=.* changed=2 .*failed=0" "b:ok=.* changed=0 .*failed=0" "c:failed=1"; do
    recap "${want%%:*}" | grep -qE -- "${want#*:}" || fail "recap of ${want%%:*}: '$(recap "${want%%:*}")', expected ${want#*:}"
done
[ -z "$(recap e)" ] || fail "batch 3 ran: $(recap e)"

# a was written, rebooted and verified; b and c keep their banks, e was never run.
[ "$(report a.reports/report.json)" = "0 True" ] || fail "a's report: $(report a.reports/report.json)"
cmp -s <(show a sha256.primary) <(grep sha256.primary a.before) && fail "a's primary bank did not change"
tool 0 run a -- /verify /p 61.bin  # a verifies after the rollout
[ ! -e b.reports/report.json ] || fail "b, already up to date, was updated"
[ "$(report c.reports/report.json)" = "248 False" ] || fail "c's report: $(report c.reports/report.json)"
for host in b c e; do
    show "$host" 'sha256.primary' | cmp -s - <(grep sha256.primary "$host.before") ||
        fail "$host's primary bank changed"
done
show e saved_runs | cmp -s - <(grep saved_runs e.before) || fail "batch 3's machine was run"
[ "$failures" -eq 0 ] || { echo "--- ansible-playbook output"; cat play.log; }
finish
