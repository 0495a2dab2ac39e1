#!/usr/bin/env bash
# Helpers of the end-to-end tests (tests/e2e_*.sh), each run as
#   e2e_NAME.sh <path of lromup> <build dir>
# and sourcing this file first. Works in a scratch directory removed on exit.
set -u
LROMUP=${1:?path of lromup} BUILD=${2:?build dir}
SIM="$(cd "$BUILD" && pwd)/lromup-sim"
LROMUP="$(cd "$(dirname "$LROMUP")" && pwd)/$(basename "$LROMUP")"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
failures=0 last_cmd=setup

fail() { echo "FAIL: $last_cmd: $*" >&2; failures=$((failures + 1)); }
finish() { [ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }; }

# sim ARGS: lromup-sim ARGS; stdout in out.txt (progress lines end in CR;
# they are made whole lines), stderr in err.txt, exit status in $status (124
# when it outlives RUN_TIMEOUT seconds).
sim() {
    last_cmd="lromup-sim $*"
    timeout "${RUN_TIMEOUT:-120}" "$SIM" "$@" >out.raw 2>err.txt
    status=$?
    tr '\r' '\n' <out.raw >out.txt
}
errs() { head -c 300 err.txt | tr '\n' '|'; }
expect_status() { [ "$status" -eq "$1" ] || fail "status $status, expected $1 (stderr: $(errs))"; }
# tool STATUS ARGS...: lromup-sim ARGS ends with STATUS (the updater on
# machine DIR: tool STATUS run DIR [sim options] -- ARGS).
tool() { local want=$1; shift; sim "$@"; expect_status "$want"; }
expect_out() { grep -qxF -- "$1" out.txt || fail "no stdout line '$1'"; }
expect_err() { grep -qxF -- "$1" err.txt || fail "no stderr line '$1' (got: $(errs))"; }
expect_not_out() { ! grep -qF -- "$1" out.txt || fail "unexpected stdout text '$1'"; }
expect_not_err() { ! grep -qF -- "$1" err.txt || fail "unexpected stderr text '$1'"; }
expect_last_err() { [ "$(tail -1 err.txt)" = "$1" ] || fail "last stderr line is '$(tail -1 err.txt)'"; }
# expect_seq FILE 'line/line/': all lines of the file, in order (progress
# percentages and blank lines of stdout aside).
expect_seq() {
    local got
    if [ "$1" = out.txt ]; then got=$(grep -v -e '^[0-9.]*%$' -e '^$' out.txt | tr '\n' '/')
    else got=$(tr '\n' '/' <"$1"); fi
    [ "$got" = "$2" ] || fail "$1 is '$got', expected '$2'"
}

read_bank() { "$SIM" read "$1" "$2" "$1.$2.$3" >/dev/null 2>&1 || fail "read $1 $2"; }
# images N...: iN.bin, a new image for a Moro N made by lromup-sim (in imgN).
images() {
    local n
    for n; do
        { "$SIM" new "img$n" --model "moro$n" && "$SIM" image "img$n" "i$n.bin"; } >/dev/null || fail "image i$n.bin"
    done
}
# machine DIR MODEL [new options]: a new machine; its banks as made are kept
# in DIR.primary.old and DIR.backup.old.
machine() {
    local dir=$1 model=$2; shift 2
    "$SIM" new "$dir" --model "$model" "$@" >/dev/null 2>&1 || fail "new $dir $*"
    read_bank "$dir" primary old
    read_bank "$dir" backup old
}
# bank_is_old DIR BANK...: each bank holds what it held when the machine was made.
bank_is_old() {
    local dir=$1 bank; shift
    for bank; do
        read_bank "$dir" "$bank" new
        cmp -s "$dir.$bank.old" "$dir.$bank.new" || fail "$bank bank of $dir changed"
    done
}
# bank_is_new DIR MODEL BANK IMAGE [checker options]: BANK was written with IMAGE.
bank_is_new() {
    local dir=$1 model=$2 bank=$3 image=$4 why; shift 4
    read_bank "$dir" "$bank" new
    why=$(imgcheck expect "$model" "$dir.$bank.old" "$dir.$bank.new" "$image" "$@") ||
        fail "$bank bank of $dir: $why"
}
# expect_show DIR KEY=VALUE...: the machine's state as lromup-sim shows it.
expect_show() {
    local dir=$1 kv got; shift
    "$SIM" show "$dir" >"$dir.show" 2>&1 || fail "show $dir"
    for kv; do
        got=$(sed -n "s/^${kv%%=*}: //p" "$dir.show")
        [ "$got" = "${kv#*=}" ] || fail "$dir ${kv%%=*} is '$got', expected '${kv#*=}'"
    done
}
# expect_locked DIR MODEL BANK ACTIVE: BANK's part is block-protected again,
# the flash write-protect line is low, BIOS writes are disabled again and
# ACTIVE is the boot bank.
expect_locked() {
    local lock=0xBC
    [ "$2" = moro310 ] && lock=0x94
    expect_show "$1" "status_register.$3=$lock" flash_wp=low bios_write_enable=0 "active_bank=$4"
}

# volume: a 2 MiB firmware volume of seeded random bytes with the region mark
# D9 54 at 0x10 and no BIOS trailer, on standard output.
volume() {
    python3 -c 'import random, sys
b = bytearray(random.Random(17).randbytes(0x200000)); b[16:18] = b"\xd9\x54"
sys.stdout.buffer.write(b)'
}

# imgcheck expect MODEL OLD NEW IMAGE [--bblk] [--serial S]
#          [--mtm M] [--uuid U] [--asset A|none] [--oem O|none]
#   NEW must be the bank OLD with the blocks the update writes replaced by
#   IMAGE, the running machine's identity carried into it.
# imgcheck dirty IMAGE: junk into the image's identity fields and checksums
#   (the image checksum made to hold again).
# imgcheck seal IMAGE: the image checksum made to hold.
imgcheck() {
    python3 - "$@" <<'PYEOF'
import sys
from pathlib import Path

# Per model: where the image lies in the flash, its size, the 11-character
# field every board of the model carries, the blocks written without and with
# the boot-block switch, and the identity of a new simulated machine.
MODELS = {
    "moro310": (0x600000, 0x200000, "11S45N7712Z", (0x610000, 0x7A0000), (0x7A0000, 0x800000),
                dict(serial="M310A7K", mtm="7310AC1", uuid="6f2c81a0-5e13-11e0-9c43-00215ac1d3e7",
                     asset="M310-ASSET-0001", oem="Moro Labs OEM 310")),
    "moro320": (0, 0x200000, "11S45N7798Y", (0x13000, 0x1C0000), (0x1C0000, 0x200000),
                dict(serial="M320B2Q", mtm="7320BD2", uuid="1d9a4b72-7c30-11df-8a1e-00215ac20f91",
                     asset="M320-ASSET-0001", oem="Moro Labs OEM 320")),
    "moro330": (0x3000, 0x180000, "11S45N7843X", (0x13000, 0x1C0000), (0x1C0000, 0x200000),
                dict(serial="M330C5R", mtm="7330CE3", uuid="a4e0c95e-8b21-11e1-b0c4-00215ac33a02",
                     asset="M330-ASSET-0001", oem="Moro Labs OEM 330")),
}
# The image's top 64 KiB holds 16-bit pointers (from its start) to the blocks.
TOP, ASSET_PTR, VPD_PTR, OEM_PTR = 0x10000, 0xFFE2, 0xFFE4, 0xFFE6


def rd(path): return bytearray(Path(path).read_bytes())
def u16(b, o): return b[o] | b[o + 1] << 8
def text(s, width): return s.encode()[:width].ljust(width, b"\0")
def block(img, ptr): return len(img) - TOP + u16(img, len(img) - TOP + ptr)
def neg_sum(data): return -sum(data) & 0xFF


def image_checksum(img):  # 32-bit words summed, folded to 16 bits, negated
    s = sum(int.from_bytes(img[i:i + 4], "little") for i in range(0, len(img) - 2, 4))
    s &= 0xFFFFFFFF
    return -((s & 0xFFFF) + (s >> 16)) & 0xFFFF


def carry(img, field, serial, mtm, uuid, asset, oem):
    vpd = block(img, VPD_PTR)
    img[vpd + 0x16:vpd + 0x2F] = text(serial, 7) + text(field, 11) + text(mtm, 7)
    rec = vpd + 0x57  # the UUID record: checksum at +6, length at +7, UUID at +9
    h = bytes.fromhex(uuid.replace("-", ""))
    img[rec + 9:rec + 25] = h[3::-1] + h[5:3:-1] + h[7:5:-1] + h[8:]
    img[rec + 6] = 0
    img[rec + 6] = neg_sum(img[rec:rec + u16(img, rec + 7)])
    img[vpd + 0x2F] = 0
    img[vpd + 0x2F] = neg_sum(img[vpd + 0x0D:vpd + 0x30])
    for ptr, at, value in ((ASSET_PTR, 0x0B, asset), (OEM_PTR, 0x07, oem)):
        if value != "none":
            b = block(img, ptr)
            img[b + at:b + at + 32] = text(value, 32)
    sealed(img)


def sealed(img):
    img[-2:] = b"\0\0"
    img[-2:] = image_checksum(img).to_bytes(2, "little")
    return img


def expect(model, old, new, image, *opts):
    offset, size, field, normal, bblk, ident = MODELS[model]
    old, new, image = rd(old), rd(new), rd(image)
    named = [o for o in opts if o != "--bblk"]
    ident.update(zip((o[2:] for o in named[::2]), named[1::2]))
    carry(image, field, **ident)
    lo, hi = bblk if "--bblk" in opts else normal
    lo, hi = max(lo, offset), min(hi, offset + size)
    if lo < hi:
        old[lo:hi] = image[lo - offset:hi - offset]
    if old == new:
        return 0
    d = next((i for i in range(min(len(old), len(new))) if old[i] != new[i]), len(new))
    print("bank differs first at flash %#x: expected %s, got %s"
          % (d, bytes(old[d:d + 8]).hex(), bytes(new[d:d + 8]).hex()))
    return 1


def dirty(path):
    img = rd(path)
    vpd, rec = block(img, VPD_PTR), block(img, VPD_PTR) + 0x57
    img[vpd + 0x16:vpd + 0x2F] = b"\xA5" * 0x19
    img[vpd + 0x2F] ^= 0x5A
    img[rec + 6] ^= 0x5A
    img[rec + 9:rec + 25] = b"\x5A" * 16
    asset, oem = block(img, ASSET_PTR), block(img, OEM_PTR)
    img[asset + 0x0B:asset + 0x2B] = b"J" * 32
    img[oem + 0x07:oem + 0x27] = b"K" * 32
    Path(path).write_bytes(sealed(img))  # a release image with junk in its blocks: its checksum holds


def seal(path):
    Path(path).write_bytes(sealed(rd(path)))


sys.exit({"expect": expect, "dirty": dirty, "seal": seal}[sys.argv[1]](*sys.argv[2:]))
PYEOF
}
