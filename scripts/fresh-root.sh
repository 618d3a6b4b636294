#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A root file system that holds what a new Debian 12 machine holds once the
# named packages are installed, and nothing else: Debian's base system (the
# packages of priority "required", as debootstrap's minbase has them) and the
# packages named, with everything apt installs along with them on such a
# machine (dependencies, no recommends). A package installed here but not
# among those is missing there, files, commands and package database entry.
#
#   scripts/fresh-root.sh [PACKAGE...]
#       Prints the root's path. It is made from this machine's own installed
#       files (hard links, nothing downloaded; the packages missing here are
#       installed first) and kept, one per set of package versions, in
#       $CORVANE_FRESH_ROOT_CACHE (default ~/.cache/corvane/fresh-root, outside
#       any clone, so that every clone and CI's finds it): seconds when cached.
#   scripts/fresh-root.sh --run ROOT [--writable] [--bind DIR]... -- COMMAND [ARGS...]
#       Runs COMMAND as root inside ROOT, in the current directory, with this
#       machine's /proc, /sys, /dev, /run, /tmp, /var/tmp, $HOME and each DIR
#       (read-write, at the same path) bound in. The root itself is read-only
#       (its files are this machine's own), or with --writable a throw-away
#       overlay: installing packages there (apt-get, dpkg -i) changes nothing
#       outside. A command that is not found but belongs to a package of this
#       machine that the root leaves out is named with its package.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
self=$here/$(basename "${BASH_SOURCE[0]}")
# Inside a root: "COMMAND PACKAGE" for every command this machine has and the
# root leaves out. Its presence marks a fresh root.
marker=/etc/corvane-fresh-root
# CI may run without HOME; ~ still knows it.
HOME=${HOME:-$(cd ~ && pwd)}

usage() {
    sed -n '/^#   scripts/,/^set -euo/p' "$self" | sed '$d; s/^#//' >&2
    exit 2
}

# ---- running a command inside a root ------------------------------------------
run() {
    local root= writable=0 binds=() dir
    while (($#)); do
        case $1 in
            --writable) writable=1 && shift ;;
            --bind) [[ -n ${2-} ]] || usage && binds+=("$(cd "$2" && pwd)") && shift 2 ;;
            --) shift && break ;;
            -*) usage ;;
            *) [[ -z $root ]] || usage && root=$1 && shift ;;
        esac
    done
    (($#)) && [[ -n $root ]] || usage
    root=$(cd "$root" && pwd)
    [[ -e $root$marker ]] || { echo "fresh-root: $root is not a root made by $self" >&2 && exit 2; }
    # Its own mount namespace: every mount below vanishes with the command.
    if [[ ${CORVANE_FRESH_ROOT_NS-} != $$ ]]; then
        # Held by the command: a root in use is never pruned.
        exec 8<"$root.lock"
        flock -s 8
        local again=("$root")
        ((writable)) && again+=(--writable)
        for dir in "${binds[@]}"; do again+=(--bind "$dir"); done
        CORVANE_FRESH_ROOT_NS=$$ exec unshare --mount --propagation private -- "$self" --run "${again[@]}" -- "$@"
    fi
    unset CORVANE_FRESH_ROOT_NS
    binds=(/tmp /var/tmp "$HOME" "${binds[@]}")
    local target=$root
    if ((writable)); then
        # Each run's own tmpfs on one folder: mounts are private to the run.
        local layer=${root%/*}/.layer
        mkdir -p "$layer"
        mount -t tmpfs tmpfs "$layer"
        mkdir "$layer/upper" "$layer/work" "$layer/merged"
        mount -t overlay overlay -o "lowerdir=$root,upperdir=$layer/upper,workdir=$layer/work" "$layer/merged"
        target=$layer/merged
    fi
    for dir in "${binds[@]}" "$PWD"; do mkdir -p "$target$dir"; done
    if ((!writable)); then
        mount --bind "$root" "$root"
        mount -o remount,bind,ro "$root"
    fi
    for dir in proc sys dev; do mount --rbind "/$dir" "$target/$dir"; done
    mount --bind /run "$target/run"
    for dir in "${binds[@]}"; do mount --bind "$dir" "$target$dir"; done
    command_not_found_handle() {
        local package
        package=$(awk -v c="$1" '$1 == c {print $2; exit}' /etc/corvane-fresh-root 2>/dev/null)
        if [[ -n $package ]]; then
            echo "$1: command not found in this root: Debian package $package has it, and the root holds only the base system and the packages it was made with" >&2
        else
            echo "$1: command not found" >&2
        fi
        return 127
    }
    export -f command_not_found_handle
    exec chroot "$target" /usr/bin/env -C "$PWD" -- "$@"
}

# ---- making a root ----------------------------------------------------------------
# The file lists of a set of installed packages (names, one a line, on stdin),
# their paths with /bin, /sbin and /lib* spelled as under /usr, sorted.
package_files() {
    awk 'NR == FNR {want[$1]; next}
         FNR == 1 {name = FILENAME; sub(/.*\//, "", name); sub(/\.list$/, "", name); sub(/:.*/, "", name)}
         name in want' - /var/lib/dpkg/info/*.list |
        sed -E 's#^/(bin|sbin|lib|lib32|lib64|libx32)(/|$)#/usr/\1\2#' | LC_ALL=C sort -u
}

# The installed packages named on stdin, with every package they depend on
# (Depends, Pre-Depends), sorted. Of alternatives, the first one installed
# here counts, as apt, which keeps what is installed, chooses on a machine that
# has it.
depends_closure() {
    awk 'NR == FNR {roots[$1]; next}
        {
            name = ""; installed = 0; deps = ""; provides = ""
            n = split($0, lines, "\n")
            for (i = 1; i <= n; i++) {
                line = lines[i]
                if (line ~ /^Package: /) name = substr(line, 10)
                else if (line ~ /^Status: .* installed$/ && line !~ /-installed$/) installed = 1
                else if (line ~ /^(Pre-)?Depends: /) { sub(/^[^:]*: /, "", line); deps = deps ", " line }
                else if (line ~ /^Provides: /) provides = substr(line, 11)
            }
            if (!installed) next
            have[name] = 1; depends[name] = deps
            if (provides != "" && name != "") {
                m = split(provides, virtual, / *, */)
                for (i = 1; i <= m; i++) { v = virtual[i]; sub(/ .*/, "", v); if (!(v in provider)) provider[v] = name }
            }
        }
        function pick(alternatives,    a, k, p) {
            k = split(alternatives, a, / *\| */)
            for (i2 = 1; i2 <= k; i2++) {
                p = a[i2]; sub(/^ +/, "", p); sub(/ .*/, "", p); sub(/:.*/, "", p)
                if (p in have) return p
                if (p in provider) return provider[p]
            }
            return ""
        }
        END {
            for (r in roots) { if (!(r in have)) { print "fresh-root: not installed here: " r > "/dev/stderr"; bad = 1 } else queue[++last] = r; seen[r] }
            for (q = 1; q <= last; q++) {
                g = split(depends[queue[q]], groups, / *, */)
                for (j = 1; j <= g; j++) {
                    if (groups[j] == "") continue
                    p = pick(groups[j])
                    if (p == "") { print "fresh-root: " queue[q] " depends on " groups[j] ", not installed here" > "/dev/stderr"; bad = 1; continue }
                    if (!(p in seen)) { seen[p]; queue[++last] = p }
                }
            }
            for (p in seen) print p
            exit bad
        }' - RS= /var/lib/dpkg/status | LC_ALL=C sort
}

make_root() {
    local work packages=("$@")
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    # Not yet installed here: installed first.
    local missing
    missing=$(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${packages[@]}" 2>/dev/null |
        awk '$2 == "ii" {print $1}' | LC_ALL=C sort -u | LC_ALL=C comm -13 - <(printf '%s\n' "${packages[@]}" | LC_ALL=C sort -u)) || true
    if [[ -n $missing ]]; then
        echo "fresh-root: installing here first: $(echo $missing)" >&2
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >&2
    fi
    # The required packages and the named ones, with their dependencies as
    # this machine satisfies them.
    { dpkg-query -W -f='${Package} ${Priority}\n' | awk '$2 == "required" {print $1}' && printf '%s\n' "${packages[@]}"; } |
        depends_closure >"$work/packages"

    local key cache root
    key=$( (cat "$self" && dpkg-query -W -f='${Package} ${Version} ${Architecture}\n' $(cat "$work/packages")) |
        sha1sum | cut -c1-16)
    cache=${CORVANE_FRESH_ROOT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/corvane/fresh-root}
    root=$cache/$key
    mkdir -p "$cache"
    (
        flock 9
        [[ -e $root$marker ]] && exit 0
        rm -rf "$root.new"
        mkdir -p "$root.new"
        # Every system file as a hard link; the package database as a copy, as
        # the root's own.
        cp -a /bin /sbin /lib /lib64 "$root.new/"
        for dir in /lib32 /libx32; do [[ -e $dir ]] && cp -a "$dir" "$root.new/"; done
        cp -al /usr /etc /var "$root.new/"
        rm -rf "$root.new/var/lib/dpkg" "$root.new/var/tmp" "$root.new/var/cache/ccache"
        cp -a /var/lib/dpkg "$root.new/var/lib/dpkg"
        mkdir -p "$root.new"/{boot,dev,home,media,mnt,opt,proc,root,run,srv,sys,tmp,var/tmp}
        chmod 1777 "$root.new/tmp" "$root.new/var/tmp"

        # The packages of this machine that the root leaves out: their files
        # (where no package of the root has them too) go.
        dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' | awk '$2 == "ii" {print $1}' | LC_ALL=C sort -u |
            LC_ALL=C comm -23 - "$work/packages" >"$work/hidden"
        package_files <"$work/packages" >"$work/kept-files"
        package_files <"$work/hidden" | LC_ALL=C comm -23 - "$work/kept-files" >"$work/hidden-files"
        sed "s#^#$root.new#" "$work/hidden-files" | xargs -r -d '\n' rm -f 2>/dev/null || true
        # Python's byte code is nobody's file; left behind, a module's folder
        # would still import (as an empty namespace package).
        sed -n "s#^\(.*\)/__init__\.py\$#$root.new\1/__pycache__#p" "$work/hidden-files" | xargs -r -d '\n' rm -rf
        LC_ALL=C sort -r "$work/hidden-files" | sed "s#^#$root.new#" |
            xargs -r -d '\n' rmdir --ignore-fail-on-non-empty 2>/dev/null || true
        # Their commands, to name the package when one is called.
        awk 'NR == FNR {hidden[$1]; next}
             FNR == 1 {name = FILENAME; sub(/.*\//, "", name); sub(/\.list$/, "", name); sub(/:.*/, "", name)}
             name in hidden && match($0, /^(\/usr)?\/s?bin\/[^\/]+$/) {sub(/.*\//, ""); print $0, name}' \
            "$work/hidden" /var/lib/dpkg/info/*.list >"$root.new$marker"

        # Their entries in the package database.
        dpkg-query -s $(cat "$work/packages") >"$root.new/var/lib/dpkg/status"
        rm -f "$root.new/var/lib/dpkg/status-old" "$root.new/var/lib/dpkg/available"
        # (info/format is the database's own: without it dpkg takes the files
        # of every Multi-Arch package for missing, and dpkg -S finds none.)
        ls "$root.new/var/lib/dpkg/info" | awk 'NR == FNR {keep[$1]; next}
            {name = $0; sub(/\.[^.]*$/, "", name); sub(/:.*/, "", name)} !(name in keep) && $0 != "format"' "$work/packages" - |
            sed "s#^#$root.new/var/lib/dpkg/info/#" | xargs -r -d '\n' rm -f
        # Alternatives whose chosen program left with its package fall back
        # to the best one that stayed.
        local link name
        for link in "$root.new"/etc/alternatives/*; do
            [[ -L $link && ! -e $root.new$(readlink "$link") ]] || continue
            name=${link##*/}
            [[ -e $root.new/var/lib/dpkg/alternatives/$name ]] &&
                update-alternatives --root "$root.new" --auto "$name" >/dev/null 2>&1 || rm -f "$link"
        done
        cp "$work/packages" "$root.new/.packages"
        touch "$root.lock"
        mv "$root.new" "$root"

        # The cache keeps the three roots used last; one in use stays.
        ls -dt "$cache"/*/ | tail -n +4 | while read -r old; do
            old=${old%/}
            (flock -n 8 && rm -rf "$old" "$old.lock") 8<"$old.lock" 2>/dev/null || true
        done
    ) 9>"$cache/.lock"
    touch "$root"
    echo "$root"
}

case ${1-} in
    --run) shift && run "$@" ;;
    -*) usage ;;
    *) make_root "$@" ;;
esac
