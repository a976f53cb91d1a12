#!/bin/sh
# Whole-command timings, process start included: quaylink-cli beside hfsutils
# (hcopy) and cp doing the same copy, each case run many times on images in a
# RAM-backed directory. Prints the median of each command in milliseconds and
# the ratios quaylink/hcopy and quaylink/cp.
#
#   bench/whole_commands.sh PATH/TO/quaylink-cli [RUNS]
#
# Builds nothing: give it a release build of the CLI (timings of a sanitizer
# build say little). Needs hfsutils (hformat, hmount, hmkdir, hcopy); uses
# hyperfine when it is installed, else a loop timed with date +%s%N. Each
# timed run starts from a fresh copy of the image (or an empty output
# directory), made outside the timing. The images our program writes are
# brought back to the starting state by our own commands, as a user's next
# command finds them; the case marked "after-change" starts instead from an
# image another program has just changed, where the check before writing
# reads the whole catalog. The cases:
#   put-1-into-20000   one small file put into a folder of 20,000 files
#   put-1-after-change the same, on an image freshly copied
#   get-1-from-20000   one file got from that folder
#   put-2000-small     2,000 small files put in one command
#   get-2000-small     2,000 small files got in one command
#   put-macbinary-20M  a MacBinary file of a 20 MB data fork put (hcopy -m)
#   get-macbinary-20M  that file got as MacBinary (hcopy -m)
# and the tree copies (CASES "tree" runs only these): a tree of 2,000 files of
# 4 KB to 1 MB in 100 folders (about 170 MB), copied whole by get -r and
# put -r with the Data and MacBinary translators, beside cp -r of the same
# tree and hfsutils doing the same copy in one shell script (hmkdir per
# folder, and one hcopy per folder naming each of its files):
#   tree-get-data  tree-get-macbinary  tree-put-data  tree-put-macbinary
# and the tree deleted with rm -r (tree-rm-r) beside hfsutils (hdel, hrmdir) and rm -rf,
# and the peak memory (/usr/bin/time -f %M) of put -r and get -r of trees of
# 2,000 and 20,000 files and of a chain of folders, printed after the table.
#
#   bench/whole_commands.sh PATH/TO/quaylink-cli [RUNS] [CASES]   (CASES: all or tree)
set -eu

CLI=${1:?usage: whole_commands.sh PATH/TO/quaylink-cli [RUNS]}
RUNS=${2:-30}
CASES=${3:-all}
case $CLI in /*) ;; *) CLI=$(pwd)/$CLI ;; esac
[ -x "$CLI" ] || { echo "not an executable: $CLI" >&2; exit 1; }
for tool in hformat hmount hmkdir hcopy; do
    command -v "$tool" >/dev/null || { echo "hfsutils is needed ($tool is missing)" >&2; exit 1; }
done

RAM=/dev/shm
[ -d "$RAM" ] && [ -w "$RAM" ] || RAM=${TMPDIR:-/tmp}
WORK=$(mktemp -d "$RAM/quaylink-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
cd "$WORK"
HOME=$WORK  # hfsutils keeps its mounted volume in $HOME/.hcwd
export HOME TZ=UTC

if command -v hyperfine >/dev/null; then
    # measure PREPARE COMMAND: the median in milliseconds.
    measure() {
        hyperfine -N --style none --warmup 2 --runs "$RUNS" --prepare "$1" --export-json t.json "$2" >/dev/null 2>&1 ||
            { echo "failed: $2" >&2; exit 1; }
        sed -n 's/.*"median": *\([0-9.eE+-]*\).*/\1/p' t.json | head -n 1 | awk '{ printf "%.2f", $1 * 1000 }'
    }
else
    measure() {
        : >t.txt
        i=0
        while [ $i -lt "$RUNS" ]; do
            eval "$1" >/dev/null 2>&1
            t0=$(date +%s%N)
            eval "$2" >/dev/null 2>&1 || { echo "failed: $2" >&2; exit 1; }
            t1=$(date +%s%N)
            echo $((t1 - t0)) >>t.txt
            i=$((i + 1))
        done
        sort -n t.txt | awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                                                  printf "%.2f", m / 1e6 }'
    }
fi

printf '%-20s %12s %12s %12s %10s %10s\n' case quaylink-ms hcopy-ms cp-ms q/hcopy q/cp
# run NAME PREPARE-Q Q-COMMAND PREPARE-H H-COMMAND CP-COMMAND
run() {
    q=$(measure "$2" "$3")
    h=$(measure "$4" "$5")
    c=$(measure "$FRESH_OUT" "$6")
    awk -v n="$1" -v q="$q" -v h="$h" -v c="$c" \
        'BEGIN { printf "%-20s %12.2f %12.2f %12.2f %10.2f %10.2f\n", n, q, h, c, q / h, q / c }'
}


FRESH_OUT="sh -c 'rm -rf out && mkdir out'"
if [ "$CASES" != tree ]; then
    # The source files and the base image: a folder of 20,000 one-byte files,
    # a folder of 2,000 small files, an empty folder, and a 20 MB file.
    echo "making the images in $WORK ..." >&2
    mkdir big small out
    (cd big && i=0 && while [ $i -lt 20000 ]; do printf x >"f$(printf %05d $i)"; i=$((i + 1)); done)
    (cd small && i=0 && while [ $i -lt 2000 ]; do
        head -c $((100 + i % 3000)) /dev/zero >"s$(printf %04d $i)"; i=$((i + 1)); done)
    head -c 20971520 /dev/urandom >large.dat
    printf 'one small file\n' >one.txt
    dd if=/dev/zero of=base.img bs=1048576 count=160 2>/dev/null
    hformat -l Bench base.img >/dev/null
    hmkdir :Big
    hmkdir :Small
    hmkdir :In
    hmkdir :Mb
    (cd big && hcopy -r f* :Big:)
    (cd small && hcopy -r s* :Small:)
    hcopy -r large.dat :large
    hcopy -m :large large.bin
    SMALL=$(cd small && ls)
    SMALL_MAC=$(for n in $SMALL; do printf ' :Small:%s' "$n"; done)
    SMALL_CLI=$(for n in $SMALL; do printf ' Small:%s' "$n"; done)
    SMALL_PC=$(for n in $SMALL; do printf ' small/%s' "$n"; done)
    cp base.img q.img
    cp base.img h.img
    hmount h.img >/dev/null

    FRESH_Q="cp base.img q.img"
    # Our own commands undo what a timed one did, leaving the image as this
    # program last wrote it.
    UNDO_PUT_1="sh -c '\"$CLI\" rm q.img Big:one.txt; true'"
    UNDO_PUT_SMALL="sh -c '\"$CLI\" rm -r q.img In; \"$CLI\" mkdir q.img In'"
    UNDO_PUT_MACBINARY="sh -c '\"$CLI\" rm q.img Mb:large; true'"
    FRESH_H="cp base.img h.img"

    run put-1-into-20000 "$UNDO_PUT_1" "$CLI put q.img one.txt --to Big" \
        "$FRESH_H" "hcopy -r one.txt :Big:" "cp one.txt out/"
    run put-1-after-change "$FRESH_Q" "$CLI put q.img one.txt --to Big" \
        "$FRESH_H" "hcopy -r one.txt :Big:" "cp one.txt out/"
    run get-1-from-20000 "$FRESH_OUT" "$CLI get q.img Big:f10000 -o out" \
        "$FRESH_OUT" "hcopy -r :Big:f10000 out/" "cp big/f10000 out/"
    run put-2000-small "$UNDO_PUT_SMALL" "$CLI put q.img $SMALL_PC --to In" \
        "$FRESH_H" "hcopy -r $SMALL_PC :In:" "cp $SMALL_PC out/"
    run get-2000-small "$FRESH_OUT" "$CLI get q.img $SMALL_CLI -o out" \
        "$FRESH_OUT" "hcopy -r $SMALL_MAC out/" "cp $SMALL_PC out/"
    run put-macbinary-20M "$UNDO_PUT_MACBINARY" "$CLI put q.img large.bin --as macbinary --to Mb" \
        "$FRESH_H" "hcopy -m large.bin :Mb:" "cp large.bin out/"
    run get-macbinary-20M "$FRESH_OUT" "$CLI get q.img large --as macbinary -o out" \
        "$FRESH_OUT" "hcopy -m :large out/" "cp large.bin out/"
fi

# The tree: folder dNN holds 20 files; most are 4 to 64 KB, every 17th 1 MB.
echo "making the tree in $WORK ..." >&2
mkdir -p tree
i=0
while [ $i -lt 2000 ]; do
    d=tree/d$(printf %03d $((i / 20)))
    [ -d "$d" ] || mkdir "$d"
    if [ $((i % 17)) -eq 0 ]; then k=256; else k=$((1 << (i % 5))); fi
    head -c $((k * 4096)) /dev/urandom >"$d/f$(printf %04d $i)"
    i=$((i + 1))
done
FOLDERS=$(cd tree && ls)
dd if=/dev/zero of=tbase.img bs=1048576 count=400 2>/dev/null
hformat -l Trees tbase.img >/dev/null
hmkdir :In
cp tbase.img t.img
"$CLI" put -r -q t.img tree
mkdir mb
"$CLI" get -r -q --as macbinary t.img :tree -o mb
"$CLI" check t.img >/dev/null
cp t.img tbase.img
cp tbase.img th.img
hmount th.img >/dev/null
# hfsutils' scripts: get (mkdir and one hcopy per folder), put (hmkdir and one hcopy per folder).
{ echo 'mkdir -p out/tree'
  for d in $FOLDERS; do echo "mkdir out/tree/$d && hcopy \$MODE :tree:$d:* out/tree/$d/"; done; } >hget.sh
{ echo 'hmkdir :In:tree'
  for d in $FOLDERS; do echo "hmkdir :In:tree:$d && hcopy \$MODE \$SRC/$d/* :In:tree:$d:"; done; } >hput.sh
FRESH_T="cp tbase.img t.img"
FRESH_TH="cp tbase.img th.img"
run tree-get-data "$FRESH_OUT" "$CLI get -r -q t.img :tree -o out" \
    "$FRESH_OUT" "sh -c 'MODE=-r sh hget.sh'" "cp -r tree out/"
run tree-get-macbinary "$FRESH_OUT" "$CLI get -r -q --as macbinary t.img :tree -o out" \
    "$FRESH_OUT" "sh -c 'MODE=-m sh hget.sh'" "cp -r mb/tree out/"
run tree-put-data "$FRESH_T" "$CLI put -r -q t.img tree --to In" \
    "$FRESH_TH" "sh -c 'MODE=-r SRC=tree sh hput.sh'" "cp -r tree out/"
run tree-put-macbinary "$FRESH_T" "$CLI put -r -q --as macbinary t.img mb/tree --to In" \
    "$FRESH_TH" "sh -c 'MODE=-m SRC=mb/tree sh hput.sh'" "cp -r mb/tree out/"

# Deleting the tree on the Mac side: rm -r beside hfsutils in one script
# (hmount, one hdel per folder naming its files, hrmdir per folder) and rm -rf
# of the same tree on the PC. Each run starts from a fresh copy.
{ echo 'hmount th.img >/dev/null'
  for d in $FOLDERS; do
      printf 'hdel'; for f in tree/$d/*; do printf ' :tree:%s:%s' "$d" "${f##*/}"; done; echo
      echo "hrmdir :tree:$d"
  done
  echo 'hrmdir :tree'; } >hdel.sh
PLAIN_OUT=$FRESH_OUT
FRESH_OUT="sh -c 'rm -rf out && mkdir out && cp -r tree out/'"  # what rm -rf deletes
run tree-rm-r "$FRESH_T" "$CLI rm -r -q t.img :tree" \
    "$FRESH_TH" "sh hdel.sh" "rm -rf out/tree"
FRESH_OUT=$PLAIN_OUT

# Peak memory: trees of 2,000 and 20,000 files two levels deep, and 20,000
# files down a chain of 100 folders.
if [ -x /usr/bin/time ]; then
    echo "making the trees for the memory figures ..." >&2
    mkdir -p wide deep
    f=0
    while [ $f -lt 200 ]; do
        mkdir "wide/d$f"
        (cd "wide/d$f" && n=0 && while [ $n -lt 100 ]; do printf x >"f$n"; n=$((n + 1)); done)
        f=$((f + 1))
    done
    p=deep
    f=0
    while [ $f -lt 100 ]; do
        p=$p/d$f
        mkdir "$p"
        (cd "$p" && n=0 && while [ $n -lt 200 ]; do printf x >"f$n"; n=$((n + 1)); done)
        f=$((f + 1))
    done
    printf '%-28s %10s %10s\n' tree put-r-KB get-r-KB
    for t in tree wide deep; do
        cp tbase.img m.img
        put=$(/usr/bin/time -f %M "$CLI" put -r -q m.img "$t" --to In 2>&1 >/dev/null | tail -n 1)
        rm -rf out && mkdir out
        get=$(/usr/bin/time -f %M "$CLI" get -r -q m.img ":In:$t" -o out 2>&1 >/dev/null | tail -n 1)
        files=$(find "$t" -type f | wc -l)
        depth=$(find "$t" -type d | awk -F/ '{ if (NF > m) m = NF } END { print m - 1 }')
        printf '%-28s %10s %10s\n' "$t ($files files, depth $depth)" "$put" "$get"
    done
    rm -f m.img
fi
