#!/bin/sh
# Builds the native libFuzzer harnesses with the host's clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a fixed number of inputs from a fixed seed, with a
# small seed corpus and dictionary in UTF-16LE. Exits non-zero on the first disagreement or fault.
#
# Usage: run.sh [OUT_DIR [RUNS]]     defaults: $TMPDIR/quillmere-fuzz-native, 200000
# Environment: CXX (default clang++), QM_FUZZ_SEED (libFuzzer -seed, default 1).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../../.." && pwd)
out=${1:-${TMPDIR:-/tmp}/quillmere-fuzz-native}
runs=${2:-200000}
cxx=${CXX:-clang++}
seed=${QM_FUZZ_SEED:-1}
mkdir -p "$out"

flags="-std=c++20 -O1 -g -Wall -Wextra -Werror -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -I$repo/windows -I$repo -I$here/stub"
# shellcheck disable=SC2086
"$cxx" $flags -o "$out/content_length_fuzzer" "$here/content_length_fuzzer.cpp" \
    "$repo/tests/fuzz/models.cpp" "$repo/windows/download/content_length.cpp" \
    "$repo/core/content_length.cpp" "$repo/windows/text/text_edge.cpp"
# shellcheck disable=SC2086
"$cxx" $flags -o "$out/request_target_fuzzer" "$here/request_target_fuzzer.cpp" \
    "$repo/tests/fuzz/models.cpp" "$repo/windows/download/url_target.cpp" \
    "$repo/core/request_target.cpp" "$repo/windows/text/text_edge.cpp"

# Seed corpora and dictionaries: each entry as UTF-16LE units.
/usr/bin/python3 - "$out" <<'PY'
import os, sys
out = sys.argv[1]
def units(text):
    return text.encode("utf-16-le", "surrogatepass")
def escaped(text):
    return "".join("\\x%02X" % b for b in units(text))
sets = {
    "content_length": (
        ["0", "+5", " 42", "\t\r\n 7", "-1", " -0", "18446744073709551615",
         "18446744073709551616", "0" * 60 + "1", "12abc", "0x10", "", "\u3000+9"],
        ["0", "9", "+", "-", " ", "\t", "\u00a0", "\u2007", "\u3000", "\u0085", "\ufeff",
         "\uff11", "18446744073709551615", "18446744073709551616", "99999999999999999999"]),
    "request_target": (
        ["https://h", "https://h?x=1", "https://h:1#f?x", "/a#b?c", "?q#", "/a?b#c#d",
         "https://u:p@h:5#f?x", "mailto:a?b", "https:h?x", "/x@y:z?a=b?c"],
        ["https://", "/", "?", "#", ":", "@", "%20", "\\", "\ud800", "\udc00", "//"]),
}
for name, (seeds, tokens) in sets.items():
    corpus = os.path.join(out, name + "_corpus")
    os.makedirs(corpus, exist_ok=True)
    for old in os.listdir(corpus):
        os.remove(os.path.join(corpus, old))
    for i, text in enumerate(seeds):
        with open(os.path.join(corpus, "seed%02d" % i), "wb") as f:
            f.write(units(text))
    with open(os.path.join(out, name + ".dict"), "w") as f:
        for token in tokens:
            f.write('"%s"\n' % escaped(token))
PY

for name in content_length request_target; do
    echo "native $name: $runs inputs, seed $seed"
    "$out/${name}_fuzzer" -seed="$seed" -runs="$runs" -max_len=256 -artifact_prefix="$out/" \
        -dict="$out/$name.dict" "$out/${name}_corpus" 2>"$out/$name.log" ||
        { tail -n 30 "$out/$name.log"; exit 1; }
    grep -E '^#[0-9]+ *DONE' "$out/$name.log" || tail -n 1 "$out/$name.log"
done
