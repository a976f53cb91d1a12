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
set -eu

CLI=${1:?usage: whole_commands.sh PATH/TO/quaylink-cli [RUNS]}
RUNS=${2:-30}
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
FRESH_OUT="sh -c 'rm -rf out && mkdir out'"

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

# ---- deleting a tree on the Mac side -------------------------------------------
# rm-r-tree-2000: a folder of 100 folders with 20 files each (4 to 32 KB)
# deleted with rm -r, beside hfsutils deleting the same tree in one script:
# hdel for each file (the -batched case: one hdel per folder's files), then
# hrmdir for each folder; the third column is rm -rf of the tree on the PC.
# Each run starts from a fresh copy of the image or the PC tree. Runs:
# DELETE_RUNS (default 5), since the unbatched script starts 2,100 programs.
delete_cases() {
    echo "making the tree to delete ..." >&2
    mkdir -p tree
    d=0
    while [ $d -lt 100 ]; do
        dir=tree/D$(printf %02d $d)
        mkdir -p "$dir"
        f=0
        while [ $f -lt 20 ]; do
            head -c $((4096 * (1 + (d + f) % 8))) /dev/zero >"$dir/f$(printf %02d $f)"
            f=$((f + 1))
        done
        d=$((d + 1))
    done
    dd if=/dev/zero of=tbase.img bs=1048576 count=96 2>/dev/null
    hformat -l Tree tbase.img >/dev/null
    hmkdir :T
    for dir in tree/D*; do
        name=${dir#tree/}
        hmkdir ":T:$name"
        (cd "$dir" && hcopy -r f* ":T:$name:")
    done
    humount tbase.img 2>/dev/null || true
    { echo "hmount th.img >/dev/null"
      for dir in tree/D*; do
          name=${dir#tree/}
          for file in "$dir"/f*; do echo "hdel ':T:$name:${file##*/}'"; done
          echo "hrmdir ':T:$name'"
      done
      echo "hrmdir :T"; } >hdel-each.sh
    { echo "hmount th.img >/dev/null"
      for dir in tree/D*; do
          name=${dir#tree/}
          printf 'hdel'; for file in "$dir"/f*; do printf " ':T:%s:%s'" "$name" "${file##*/}"; done; echo
          echo "hrmdir ':T:$name'"
      done
      echo "hrmdir :T"; } >hdel-batched.sh
    saved_runs=$RUNS
    RUNS=${DELETE_RUNS:-5}
    fresh_q="cp tbase.img tq.img"
    fresh_h="cp tbase.img th.img"
    fresh_pc="sh -c 'rm -rf pctree && cp -r tree pctree'"
    q=$(measure "$fresh_q" "$CLI rm -r tq.img T")
    c=$(measure "$fresh_pc" "rm -rf pctree")
    for script in hdel-each hdel-batched; do
        h=$(measure "$fresh_h" "sh $script.sh")
        case $script in hdel-each) n=rm-r-tree-2000 ;; *) n=rm-r-tree-2000-batched ;; esac
        awk -v n="$n" -v q="$q" -v h="$h" -v c="$c" \
            'BEGIN { printf "%-20s %12.2f %12.2f %12.2f %10.2f %10.2f\n", n, q, h, c, q / h, q / c }'
    done
    RUNS=$saved_runs
}
delete_cases
