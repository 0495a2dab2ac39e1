#!/usr/bin/env bash
# Helpers shared by the end-to-end update tests. Source it after setting
#   LROMUP=<path of lromup>  BUILD=<build dir>
# It makes a scratch directory (removed on exit), cds there, and offers:
#   fail, run_sim, expect_status, expect_out, expect_err, expect_no_err,
#   snap, show_value, expect_value, bank_sha, and the image checker `imgcheck`.
# Run directly, it checks the checker against images lromup-sim builds.

SIM="$(cd "${BUILD:-$2}" && pwd)/lromup-sim"
[ -n "${LROMUP:-}" ] && LROMUP="$(cd "$(dirname "$LROMUP")" && pwd)/$(basename "$LROMUP")"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    exit 0
}

# run_sim DIR [sim options] -- updater args: output in out.txt/err.txt, status in $status.
# Progress lines end in CR; out.txt has them turned into line ends.
run_sim() {
    local dir=$1; shift
    timeout 120 "$SIM" run "$dir" "$@" >out.raw 2>err.txt
    status=$?
    tr '\r' '\n' <out.raw >out.txt
    last_cmd="run $dir $*"
}
expect_status() {
    [ "$status" -eq "$1" ] || fail "$last_cmd: status $status, expected $1 (stderr: $(head -c 300 err.txt | tr '\n' '|'))"
}
expect_out() {  # a whole line of standard output
    grep -qxF -- "$1" out.txt || fail "$last_cmd: no stdout line '$1'"
}
expect_err() {  # a whole line of standard error
    grep -qxF -- "$1" err.txt || fail "$last_cmd: no stderr line '$1' (got: $(head -c 300 err.txt | tr '\n' '|'))"
}
expect_not_out() {
    grep -qF -- "$1" out.txt && fail "$last_cmd: unexpected stdout text '$1'"
}
expect_not_err() {
    grep -qF -- "$1" err.txt && fail "$last_cmd: unexpected stderr text '$1'"
}
# Lines of standard output that are not progress percentages, in order.
out_lines() { grep -v '^[0-9.]*%$' out.txt | grep -v '^$'; }

snap() { "$SIM" show "$1" >"$1.show" 2>&1 || fail "show $1 failed"; }
show_value() { sed -n "s/^$2: //p" "$1.show"; }
expect_value() {  # dir key expected (from the last snap)
    local got
    got=$(show_value "$1" "$2")
    [ "$got" = "$3" ] || fail "$last_cmd: $1 $2 is '$got', expected '$3'"
}
read_bank() {  # dir bank file
    "$SIM" read "$1" "$2" "$3" >/dev/null 2>&1 || fail "read $1 $2 failed"
}

# The lock value the updater leaves in the part's status register.
lock_value() { case $1 in moro310) echo 0x94 ;; *) echo 0xBC ;; esac; }

# imgcheck SUBCOMMAND ...: byte-level work on images and banks.
#   expect MODEL OLD NEW IMAGE [--bblk] [--no-carry] [--serial S] [--mtm M]
#          [--uuid U] [--asset A|none] [--oem O|none]
#       NEW must be OLD with the programmable blocks of the image's range
#       replaced by the image as the machine's identity is carried into it.
#   dirty IMAGE   junk into the image's identity fields and checksums
#   checksum IMAGE   the stored image checksum matches the sum rule
imgcheck() {
    python3 - "$@" <<'PYEOF'
import sys

args = sys.argv[1:]
cmd = args.pop(0)

# Per model: generation, where the image goes in the flash, its size,
# the 11-character field every board of the model carries, and the
# programmable windows of the part without and with the boot-block switch.
MODELS = {
    "moro310": dict(offset=0x600000, size=0x200000, field="11S45N7712Z",
                    normal=(0x610000, 0x7A0000), bblk=(0x7A0000, 0x800000),
                    serial="M310A7K", mtm="7310AC1",
                    uuid="6f2c81a0-5e13-11e0-9c43-00215ac1d3e7",
                    asset="M310-ASSET-0001", oem="Moro Labs OEM 310"),
    "moro320": dict(offset=0, size=0x200000, field="11S45N7798Y",
                    normal=(0x13000, 0x1C0000), bblk=(0x1C0000, 0x200000),
                    serial="M320B2Q", mtm="7320BD2",
                    uuid="1d9a4b72-7c30-11df-8a1e-00215ac20f91",
                    asset="M320-ASSET-0001", oem="Moro Labs OEM 320"),
    "moro330": dict(offset=0x3000, size=0x180000, field="11S45N7843X",
                    normal=(0x13000, 0x1C0000), bblk=(0x1C0000, 0x200000),
                    serial="M330C5R", mtm="7330CE3",
                    uuid="a4e0c95e-8b21-11e1-b0c4-00215ac33a02",
                    asset="M330-ASSET-0001", oem="Moro Labs OEM 330"),
}
TOP = 0x10000
ASSET_PTR, VPD_PTR, OEM_PTR = 0xFFE2, 0xFFE4, 0xFFE6
VPD_LEN = 0x30  # the length byte the running VPD block of these boards holds


def rd(path):
    with open(path, "rb") as f:
        return bytearray(f.read())


def u16(b, o):
    return b[o] | (b[o + 1] << 8)


def field(text, width):
    raw = text.encode()[:width]
    return raw + b"\0" * (width - len(raw))


def uuid_bytes(text):
    h = bytes.fromhex(text.replace("-", ""))
    return h[3::-1] + h[5:3:-1] + h[7:5:-1] + h[8:]


def neg_sum(data):
    return (-sum(data)) & 0xFF


def image_checksum(img):
    s = 0
    for i in range(0, len(img) - 2, 4):
        s += int.from_bytes(img[i:i + 4], "little")
    s &= 0xFFFFFFFF
    return (-(s & 0xFFFF) - (s >> 16)) & 0xFFFF


def top_block(img, ptr_off):
    return len(img) - TOP + u16(img, len(img) - TOP + ptr_off)


def carry(img, ident):
    """The image with the running machine's identity carried into it."""
    vpd = top_block(img, VPD_PTR)
    img[vpd + 0x16:vpd + 0x1D] = field(ident["serial"], 7)
    img[vpd + 0x1D:vpd + 0x28] = field(ident["field"], 11)
    img[vpd + 0x28:vpd + 0x2F] = field(ident["mtm"], 7)
    rec = vpd + 0x57
    img[rec + 9:rec + 25] = uuid_bytes(ident["uuid"])
    img[rec + 6] = 0
    img[rec + 6] = neg_sum(img[rec:rec + u16(img, rec + 7)])
    img[vpd + 0x2F] = 0
    img[vpd + 0x2F] = neg_sum(img[vpd + 0x0D:vpd + VPD_LEN])
    if ident["asset"] != "none":
        a = top_block(img, ASSET_PTR)
        img[a + 0x0B:a + 0x2B] = field(ident["asset"], 32)
    if ident["oem"] != "none":
        o = top_block(img, OEM_PTR)
        img[o + 0x07:o + 0x27] = field(ident["oem"], 32)
    img[-2:] = b"\0\0"
    img[-2:] = image_checksum(img).to_bytes(2, "little")


def first_diff(a, b):
    for i in range(min(len(a), len(b))):
        if a[i] != b[i]:
            return i
    return min(len(a), len(b))


def expect(a):
    model, old, new, image = a[0], rd(a[1]), rd(a[2]), rd(a[3])
    m = MODELS[model]
    opts = a[4:]
    bblk = "--bblk" in opts
    do_carry = "--no-carry" not in opts
    ident = {k: m[k] for k in ("serial", "mtm", "uuid", "asset", "oem", "field")}
    i = 0
    while i < len(opts):
        if opts[i] in ("--serial", "--mtm", "--uuid", "--asset", "--oem"):
            ident[opts[i][2:]] = opts[i + 1]
            i += 2
        else:
            i += 1
    if len(image) != m["size"]:
        print("image is %#x bytes, the model takes %#x" % (len(image), m["size"]))
        return 1
    if do_carry:
        carry(image, ident)
    want = bytearray(old)
    lo, hi = m["bblk"] if bblk else m["normal"]
    lo, hi = max(lo, m["offset"]), min(hi, m["offset"] + m["size"])
    if lo < hi:
        want[lo:hi] = image[lo - m["offset"]:hi - m["offset"]]
    if want == new:
        return 0
    d = first_diff(want, new)
    print("bank differs first at flash %#x: expected %s, got %s"
          % (d, bytes(want[d:d + 8]).hex(), bytes(new[d:d + 8]).hex()))
    return 1


def dirty(a):
    img = rd(a[0])
    vpd = top_block(img, VPD_PTR)
    img[vpd + 0x16:vpd + 0x2F] = b"\xA5" * 0x19
    img[vpd + 0x2F] ^= 0x5A
    rec = vpd + 0x57
    img[rec + 6] ^= 0x5A
    img[rec + 9:rec + 25] = b"\x5A" * 16
    asset = top_block(img, ASSET_PTR)
    img[asset + 0x0B:asset + 0x2B] = b"J" * 32
    oem = top_block(img, OEM_PTR)
    img[oem + 0x07:oem + 0x27] = b"K" * 32
    with open(a[0], "wb") as f:
        f.write(img)
    return 0


def checksum(a):
    img = rd(a[0])
    stored = u16(img, len(img) - 2)
    img[-2:] = b"\0\0"
    return 0 if stored == image_checksum(img) else 1


sys.exit({"expect": expect, "dirty": dirty, "checksum": checksum}[cmd](args))
PYEOF
}

# Run directly (CTest globs this file with the tests): check the checker's
# checksum rule on the images lromup-sim builds for each model.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    for model in moro310 moro320 moro330; do
        "$SIM" new "$model" --model "$model" >/dev/null || fail "new $model"
        "$SIM" image "$model" "$model.bin" >/dev/null || fail "image $model"
        imgcheck checksum "$model.bin" || fail "checker's image checksum disagrees on $model"
    done
    finish
fi
