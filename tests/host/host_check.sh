#!/usr/bin/env bash
# host_check: the console program with piped and script input as a script or
# a pipeline runs it: hostile bytes, endless lines, control codes in echoes,
# interrupts while waiting for input, unusable scripts and plug-ins.
#   host_check.sh PATH-TO-ORBAX
set -u
orbax=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

# step NAME EXPECTED ACTUAL: the output must be exactly EXPECTED.
step() {
    if [[ "$3" == "$2" ]]; then
        passes=$((passes + 1)); echo "ok  : $1"
    else
        failures=$((failures + 1)); echo "FAIL: $1"
        printf '  expected: %q\n  actual:   %q\n' "$2" "$3"
    fi
}
# holds NAME CONDITION-RESULT (0 true)
holds() {
    if [[ $2 -eq 0 ]]; then passes=$((passes + 1)); echo "ok  : $1"
    else failures=$((failures + 1)); echo "FAIL: $1"; fi
}
run() { printf "$1" | "$orbax" 2>&1; }

# Bytes that are not UTF-8 characters, and NUL, refuse their line.
step "NUL byte" $'orbax: line 1: NUL byte at byte offset 1\n4' "$(run '2\x00+3\n2+2\n')"
step "overlong quote" $'orbax: line 1: invalid UTF-8 byte 0xC0 at byte offset 0\n4' "$(run '\xc0\xa7A\xc0\xa7\n2+2\n')"
step "overlong letter" $'orbax: line 1: invalid UTF-8 byte 0xC1 at byte offset 2\n4' "$(run '1+\xc1\x81\n2+2\n')"
step "surrogate" $'orbax: line 1: invalid UTF-8 byte 0xED at byte offset 1\n4' "$(run "'\xed\xa0\x80'\n2+2\n")"
step "stray continuation byte" $'orbax: line 1: invalid UTF-8 byte 0x80 at byte offset 0\n4' "$(run '\x80\n2+2\n')"
step "truncated sequence" $'orbax: line 1: invalid UTF-8 byte 0xE2 at byte offset 2\n4' "$(run '1+\xe2\x8d\n2+2\n')"

# Control codes in an error echo show as "." as they do in displayed values.
echo=$(run "'\x1b[31mRED\x07'+1\n")
step "control codes in an echo" "DOMAIN ERROR : Invalid data type(CHAR)" "$(head -1 <<<"$echo")"
step "echo text" "'.[31mRED.'+1" "$(sed -n 2p <<<"$echo")"

# A line longer than the input buffer is refused once and skipped, in bounded memory.
fifo=$work/input
mkfifo "$fifo"
"$orbax" <"$fifo" >"$work/long.out" 2>&1 &
pid=$!
exec 3>"$fifo"
head -c 200000000 /dev/zero | tr '\0' '1' >&3
peak=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null)
printf '\n2+2\n' >&3
exec 3>&-
wait "$pid"
step "long line refused and skipped" $'orbax: line 1 is longer than 65532 bytes: refused\n4' "$(cat "$work/long.out")"
[[ -n "$peak" && "$peak" -lt 100000 ]]
holds "long line read in bounded memory (peak ${peak:-?} kB)" $?

# The del editor in piped input: a definition cut off by the end of input
# fails the run; )ED hands the text to $EDITOR, and a fix that fails there
# goes on in the del editor with the lines that follow.
out=$(run '\xe2\x88\x87F\n1\n'); status=$?
step "input ends inside a definition" "orbax: the input ended inside the definition of F, which was not fixed" "$out"
holds "and the run fails" $((status == 1 ? 0 : 1))
define='\xe2\x88\x87Z\xe2\x86\x90F\nZ\xe2\x86\x901\xe2\x88\x87\n'
out=$(TMPDIR=$work EDITOR=false run "$define)ED F\nF\n")
step ")ED with a failing editor changes nothing" \
    "orbax: the editor did not finish well; nothing changed (the text is in $work/orbax-ed-XXXXXX.apl)"$'\n1' \
    "$(sed 's/ed-[A-Za-z0-9]*\.apl/ed-XXXXXX.apl/' <<<"$out")"
out=$(TMPDIR=$work EDITOR="sed -i -e 's/1/(1/'" run "$define)ED F\nZ\xe2\x86\x902\xe2\x88\x87\nF\n")
step ")ED whose text does not fix is mended in the del editor" $'DEFN ERROR\n[1]  Z←(1\n2' "$out"

# Ctrl-C while a piped session waits for its next line: ignored, input goes on.
# waiting PID: polls (at most 20 s) until the program catches SIGINT and sleeps
# (its output to a file is buffered, so it cannot be watched instead).
waiting() {
    for _ in $(seq 200); do
        local caught state
        caught=$(awk '/^SigCgt/ {print $2}' "/proc/$1/status" 2>/dev/null)
        state=$(awk '/^State/ {print $2}' "/proc/$1/status" 2>/dev/null)
        [[ -n "$caught" && $(( 0x$caught & 2 )) -ne 0 && "$state" == S ]] && return
        sleep 0.1
    done
}
trap '' PIPE
mkfifo "$work/session"
"$orbax" <"$work/session" >"$work/interrupt.out" 2>&1 &
pid=$!
exec 4>"$work/session"
echo '1+1' >&4; waiting "$pid"
kill -INT "$pid"; sleep 0.5
echo '2+2' 2>/dev/null >&4; waiting "$pid"
kill -INT "$pid"; echo '3+3' 2>/dev/null >&4
exec 4>&-
wait "$pid"
status=$?
step "interrupts while waiting" $'2\n4\n6 0' "$(cat "$work/interrupt.out") $status"

# A script that reported an error fails (make and CI see it); one that ran
# clean, and a piped session that did, succeed.
printf '2+2\n1÷0\n3+3\n' >"$work/fails.apl"
"$orbax" -script "$work/fails.apl" >"$work/fails.out" 2>&1
status=$?
step "script with an error" $'4\nDOMAIN ERROR\n1÷0\n ^\n6 1' "$(cat "$work/fails.out") $status"
clean=$(printf "'1' ⎕EA '1÷0'\n2+2\n" | "$orbax" 2>&1; echo "status $?")
step "piped session without a reported error" $'1\n4\nstatus 0' "$clean"
failed=$(printf '2 3+4 5 6\n' | "$orbax" >/dev/null 2>&1; echo $?)
step "piped session with an error" "1" "$failed"

# A data file beside the program whose path is longer than the library keeps
# is still the one read (⎕ORBAX would otherwise read another orbax.ini).
deep="$work/$(printf 'd%.0s' {1..80})"
mkdir -p "$deep" && cp "$orbax" "$deep/orbax"
sed 's/^TargetOS *=.*/TargetOS = Deep/' "$(dirname "$orbax")/orbax.ini" >"$deep/orbax.ini"
said=$(printf "⎕FX 'F' 'X←1'\n'F' ⎕ORBAX '%s'\n" "$work/deepproject" | "$deep/orbax" 2>&1 | grep -F "TARGET OS")
step "a setup-file path too long for the library" "TARGET OS: Deep" "$said"

# A directory is no script; a plug-in that fails to load is named.
"$orbax" -script "$work" >"$work/dir.out" 2>&1
status=$?
step "script that is a directory" "orbax: cannot read $work: Is a directory 2" "$(cat "$work/dir.out") $status"
plugin=$(ORBAX_PLUGINS="$work/missing.so" "$orbax" </dev/null 2>&1)
step "plug-in that fails to load" "orbax: plug-in $work/missing.so not loaded: $work/missing.so: cannot open shared object file: No such file or directory" "$plugin"

echo "$passes passed, $failures failed"
[[ $failures -eq 0 ]]
