#!/usr/bin/env bash
# The README's speed table: common workloads in orbax, in A+ and as a plain
# C++ loop, in one run. Each interpreter times its own calls with its own
# processor clock (⎕AI in orbax, time{} in A+, clock() in C++); the C++ loop
# is the floor to approach, built here with -O2 as the library is.
#   bench/peers_table.sh [BUILD_DIR]          (default build/default)
# A+ comes from Debian's aplus-fsf, installed here when missing. Its clock
# ticks in hundredths of a second, hence the many calls per row.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:-$here/../build/default}" && pwd)
orbax=${ORBAX:-$build/host/orbax}
scale=${PEERS_SCALE:-1}
if ! command -v a+ >/dev/null; then
    apt-get install -y aplus-fsf >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The data, the same in each: K L 1e6 INTG from 0 to 2e6-1; X Y REAL, the
# same divided by 7; the 1e5 rows take the first 1e5 of each; M is 200×200
# REAL. A row is: name % calls % orbax expression % A+ expression % C++ kernel.
# Loops report nanoseconds per turn (their expression runs 1e6 turns, FIB 20
# makes 21 891 calls), the rest microseconds per call.
rows="X+Y INTG 1e6, µs%200%K+L%k + l%sum_intg
X+Y REAL 1e6, µs%200%X+Y%x + y%sum_real
+/X INTG 1e6, µs%400%+/K%+/ k%reduce_intg
⍋X INTG 1e6, µs%10%⍋K%upg k%grade_intg
⌽X INTG 1e6, µs%400%⌽K%rot k%reverse_intg
X⍳Y INTG 1e5, µs%200%K5⍳L5%k5 iota l5%index_intg
Y∊X REAL 1e5, µs%50%Y5∊X5%y5 in x5%member_real
M+.×M REAL 200×200, µs%100%M+.×M%m +.* m%inner_real
branch loop, ns per turn%3%LOOP 1000000%loop{1000000}%loop
FIB 20, ns per call of FIB%30%FIB 20%fib{20}%fib"

cat >"$work/plain.cpp" <<'CPP'
// The plain loops: what a C++ programmer writes for each row.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <numeric>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

static std::vector<int32_t> k, l, k5, l5;
static std::vector<double> x, y, x5, y5, m, out;
static volatile double sink;

static int fib(int n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); }

static double run(const char *name) {
    if (!strcmp(name, "sum_intg")) {
        for (size_t i = 0; i < k.size(); i++) out[i] = double(k[i]) + l[i];
        return out[7];
    }
    if (!strcmp(name, "sum_real")) {
        for (size_t i = 0; i < x.size(); i++) out[i] = x[i] + y[i];
        return out[7];
    }
    if (!strcmp(name, "reduce_intg")) return double(std::accumulate(k.begin(), k.end(), int64_t(0)));
    if (!strcmp(name, "grade_intg")) {
        std::vector<std::pair<int32_t, int32_t>> keyed(k.size());  // ties in index order
        for (size_t i = 0; i < k.size(); i++) keyed[i] = {k[i], int32_t(i)};
        std::sort(keyed.begin(), keyed.end());
        return keyed[7].second;
    }
    if (!strcmp(name, "reverse_intg")) {
        std::vector<int32_t> r(k.rbegin(), k.rend());
        return r[7];
    }
    if (!strcmp(name, "index_intg")) {
        std::unordered_map<int32_t, int64_t> first;
        first.reserve(k5.size());
        for (size_t i = k5.size(); i-- > 0;) first[k5[i]] = int64_t(i);
        double s = 0;
        for (int32_t v : l5) {
            auto found = first.find(v);
            s += found == first.end() ? double(k5.size()) : double(found->second);
        }
        return s;
    }
    if (!strcmp(name, "member_real")) {  // exact, where APL is tolerant
        std::unordered_set<double> table(x5.begin(), x5.end());
        double s = 0;
        for (double v : y5) s += table.count(v);
        return s;
    }
    if (!strcmp(name, "inner_real")) {
        const int n = 200;
        std::vector<double> r(n * n, 0.0);
        for (int i = 0; i < n; i++)
            for (int j = 0; j < n; j++) {
                double a = m[i * n + j];
                for (int c = 0; c < n; c++) r[i * n + c] += a * m[j * n + c];
            }
        return r[7];
    }
    if (!strcmp(name, "loop")) {
        volatile int i = 0;
        while (i < 1000000) i = i + 1;
        return i;
    }
    if (!strcmp(name, "fib")) return fib(20);
    return -1;
}

int main(int argc, char **argv) {
    std::mt19937 draw(1);
    std::uniform_int_distribution<int32_t> value(0, 1999999);
    k.resize(1000000), l.resize(1000000), x.resize(1000000), y.resize(1000000);
    for (size_t i = 0; i < k.size(); i++) k[i] = value(draw), l[i] = value(draw);
    for (size_t i = 0; i < k.size(); i++) x[i] = k[i] / 7.0, y[i] = l[i] / 7.0;
    k5.assign(k.begin(), k.begin() + 100000), l5.assign(l.begin(), l.begin() + 100000);
    x5.assign(x.begin(), x.begin() + 100000), y5.assign(y.begin(), y.begin() + 100000);
    m.assign(x.begin(), x.begin() + 40000);
    out.resize(1000000);
    for (int a = 1; a + 1 < argc; a += 2) {
        int calls = atoi(argv[a + 1]);
        sink = run(argv[a]);
        clock_t start = clock();
        for (int c = 0; c < calls; c++) sink = run(argv[a]);
        double us = 1e6 * double(clock() - start) / CLOCKS_PER_SEC / calls;
        bool loop = !strcmp(argv[a], "loop"), fibs = !strcmp(argv[a], "fib");
        printf("%g\n", loop ? us * 1000 / 1e6 : fibs ? us * 1000 / 21891 : us);
    }
}
CPP
c++ -std=c++20 -O2 -o "$work/plain" "$work/plain.cpp"

{
    echo "N←1000000 ⋄ B←2000000 ⋄ K←?N⍴B ⋄ L←?N⍴B ⋄ X←K÷7 ⋄ Y←L÷7"
    echo "K5←100000↑K ⋄ L5←100000↑L ⋄ X5←100000↑X ⋄ Y5←100000↑Y ⋄ M←200 200⍴X"
    echo "⎕FX 'Z←LOOP N;I' 'I←0' 'L:I←I+1' '→(I<N)⍴L' 'Z←I'"
    echo "⎕FX 'Z←FIB N' '→(N<2)/E' 'Z←(FIB N-1)+FIB N-2' '→0' 'E:Z←N'"
    while IFS='%' read -r name calls expression _; do
        calls=$((calls * scale))
        echo "R←$expression"  # the first call pays the page faults
        case $name in
        branch*) echo "T←⎕AI ⋄ {⍺C←⍳$calls: R←$expression} ⋄ 1E6×(1↑⎕AI-T)÷$calls×1000000" ;;
        FIB*) echo "T←⎕AI ⋄ {⍺C←⍳$calls: R←$expression} ⋄ 1E6×(1↑⎕AI-T)÷$calls×21891" ;;
        *) echo "T←⎕AI ⋄ {⍺C←⍳$calls: R←$expression} ⋄ 1000×(1↑⎕AI-T)÷$calls" ;;
        esac
    done <<<"$rows"
    echo ')OFF'
} >"$work/table.apl"
{
    echo '$mode ascii'
    echo 'k := rand 1000000 rho 2000000; l := rand 1000000 rho 2000000; x := k % 7; y := l % 7'
    echo 'k5 := 100000 take k; l5 := 100000 take l; x5 := 100000 take x; y5 := 100000 take y'
    echo 'm := 200 200 rho x'
    echo 'loop{n}: { i := 0; while (i < n) i := i + 1; i }'
    echo 'fib{n}: if (n < 2) n else (fib{n - 1}) + fib{n - 2}'
    while IFS='%' read -r name calls _ expression _; do
        calls=$((calls * scale))
        echo "r := $expression"
        case $name in
        branch*) echo "t := time{}; $calls do r := $expression; 1e6 * (1 take time{} - t) % $calls * 1000000" ;;
        FIB*) echo "t := time{}; $calls do r := $expression; 1e6 * (1 take time{} - t) % $calls * 21891" ;;
        *) echo "t := time{}; $calls do r := $expression; 1000 * (1 take time{} - t) % $calls" ;;
        esac
    done <<<"$rows"
    echo '$off'
} >"$work/table.a"

count=$(wc -l <<<"$rows")
"$orbax" -script "$work/table.apl" </dev/null 2>&1 | grep -E '^ *[0-9.E¯]+$' | tail -n "$count" >"$work/orbax.out" || true
a+ "$work/table.a" </dev/null 2>&1 | grep -E '^ *[0-9.e+-]+$' | tail -n "$count" >"$work/aplus.out" || true
mapfile -t plain_args < <(while IFS='%' read -r _ calls _ _ kernel; do echo "$kernel"; echo $((calls * scale)); done <<<"$rows")
"$work/plain" "${plain_args[@]}" >"$work/plain.out"
printf '| workload | orbax | A+ | plain C++ | orbax / A+ | orbax / C++ |\n|---|---:|---:|---:|---:|---:|\n'
paste -d'%' <(cut -d'%' -f1 <<<"$rows") "$work/orbax.out" "$work/aplus.out" "$work/plain.out" |
    sed 's/¯/-/g' |
    awk -F'%' 'function f(v) { return v >= 100 ? sprintf("%d", v + 0.5) : sprintf("%.3g", v) }
        { printf "| %s | %s | %s | %s | %.2f | %.1f |\n", $1, f($2), f($3), f($4), ($3 > 0 ? $2 / $3 : 0), ($4 > 0 ? $2 / $4 : 0) }'
