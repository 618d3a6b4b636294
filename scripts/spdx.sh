#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The licence's SPDX line in the first lines of every source file, in the
# comment style of the file's kind, after a #! line (or a man page's
# preprocessor line, an XML declaration). Files that have it keep it as it is,
# so running the script again changes nothing.
#
#   scripts/spdx.sh [FILE...]           adds it (default: every file git tracks)
#   scripts/spdx.sh --check [FILE...]   lists the files without it and the files
#                                       of a kind the script does not know;
#                                       exits 1 when there are any
set -euo pipefail
cd "$(dirname "$0")/.."
line="SPDX-License-Identifier: MIT"

# The comment around the line for PATH: "PREFIX|SUFFIX", "skip" for files that
# take no comment or are no source (data, documents, Debian's own formats),
# or "unknown".
style() {
    case $1 in
        *.md | *.json | LICENSE | debian/changelog | debian/copyright | debian/source/* | tests/fuzz/corpus*/*)
            echo skip ;;
        tools/ui/page/vendor/*) echo skip ;; # the browser libraries, under their own licences
        *.c | *.h | *.cpp | *.hpp | *.cc | *.rc | *.js | *.mjs) echo "// |" ;;
        *.css) echo "/* | */" ;;
        *.html | *.svg) echo "<!-- | -->" ;;
        *.[1-8]) echo '.\" |' ;;
        *.manifest | *.xml) echo "<!-- | -->" ;;
        *.py | *.sh | *.cmake | *.cmake.in | CMakeLists.txt | */CMakeLists.txt | *.rules | *.service | *.service.in | *.pc.in | \
            *.conf | .clang-format | .gitignore | debian/control | debian/rules | debian/*.install | \
            debian/*.links | debian/*.lintian-overrides | debian/*.postinst | debian/*.postrm | \
            debian/*.dirs | debian/*.docs | debian/*.manpages | debian/*.examples) echo "# |" ;;
        *)
            if [[ ! -s $1 ]]; then
                echo skip # empty (a marker such as py.typed)
            elif [[ $(head -c2 "$1") == "#!" ]]; then
                echo "# |"
            elif ! grep -Iq . "$1"; then
                echo skip # binary data
            else
                echo unknown
            fi ;;
    esac
}

has_line() { head -n 5 "$1" | grep -q "SPDX-License-Identifier:"; }

check=0
[[ ${1-} == --check ]] && check=1 && shift
if (($#)); then files=("$@"); else mapfile -t files < <(git ls-files); fi

missing=() unknown=()
for file in "${files[@]}"; do
    [[ -f $file && ! -L $file ]] || continue
    kind=$(style "$file")
    case $kind in
        skip) continue ;;
        unknown) unknown+=("$file") && continue ;;
    esac
    has_line "$file" && continue
    if ((check)); then
        missing+=("$file")
        continue
    fi
    comment=${kind%%|*}$line${kind#*|}
    # Lines that must stay first: #!, a man page's preprocessor line, an XML
# declaration, an HTML doctype.
    # (ENVIRON: awk -v would take the backslash of a man page's comment as an escape.)
    comment=$comment awk 'BEGIN {comment = ENVIRON["comment"]} NR == 1 && /^(#!|'"'"'\\"|<\?xml|<!doctype)/ {print; print comment; next}
        NR == 1 {print comment} {print} END {if (NR == 0) print comment}' "$file" >"$file.spdx"
    chmod --reference="$file" "$file.spdx"
    mv "$file.spdx" "$file"
done

if ((${#unknown[@]})); then
    echo "spdx.sh: no comment style known for:" >&2
    printf '  %s\n' "${unknown[@]}" >&2
fi
if ((check && ${#missing[@]})); then
    echo "spdx.sh: without \"$line\":" >&2
    printf '  %s\n' "${missing[@]}" >&2
fi
((${#unknown[@]} == 0 && (!check || ${#missing[@]} == 0)))
