# Sourced by the fetch scripts: downloads Debian packages with a private apt state, cache and source list, from the
# mirror that this machine's own apt configuration names, and unpacks them without installing anything. The
# system's apt configuration is only read; its state, lists and cache stay as they were.
#
#   private_apt_init WORK COMPONENT SUITE...   a fresh private state under WORK, listing COMPONENT of each SUITE
#   private_apt_download DIR PACKAGE[=VERSION]...   downloads the packages into DIR; prints apt's complaint on failure
#
#   private_apt_release                        this machine's release codename (bookworm, say)
#
# Both return non-zero, with the reason in private_apt_reason, when the archive cannot be had: the caller decides
# whether that is a skip or a failure. Call them directly, not in a subshell: they set the state the next one uses.

# The machine's own source for its release, as "URI|signing key": deb822 .sources files first, then one-line lists.
private_apt_mirror() {
    local codename=$1 list parts
    eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
    local nullglob_was
    nullglob_was=$(shopt -p nullglob || true)
    shopt -s nullglob
    local lists=("$parts"*.list)
    local sources=("$parts"*.sources)
    eval "$nullglob_was"
    [ ! -f "$list" ] || lists=("$list" "${lists[@]}")
    awk -v suite="$codename" '
        function take() {
            if (types ~ /(^| )deb( |$)/ && suites ~ ("(^| )" suite "( |$)") && enabled != "no" && uri != "") {
                print uri "|" key
                exit
            }
            types = suites = uri = key = enabled = ""
        }
        FNR == 1 { take() }
        /^[ \t]*$/ { take(); next }
        /^[ \t]*#/ { next }
        /^Types:/ { sub(/^Types:[ \t]*/, ""); types = $0 }
        /^Suites:/ { sub(/^Suites:[ \t]*/, ""); suites = $0 }
        /^URIs:/ { uri = $2 }
        /^Signed-By:/ { key = $2 }
        /^Enabled:/ { enabled = $2 }
        END { take() }
    ' "${sources[@]}" /dev/null
    awk -v suite="$codename" '
        $1 != "deb" { next }
        {
            key = ""
            field = 2
            if ($2 ~ /^\[/) {
                for (; field <= NF; ++field) {
                    if ($field ~ /^\[?signed-by=/) { key = $field; sub(/^\[?signed-by=/, "", key); sub(/\]$/, "", key) }
                    if ($field ~ /\]$/) break
                }
                ++field
            }
            if ($(field + 1) == suite) { print $field "|" key; exit }
        }
    ' "${lists[@]}" /dev/null
}

# The options that point apt at the private state; set by private_apt_init.
private_apt=()
private_apt_work=
private_apt_reason=

private_apt_release() {
    (. /etc/os-release && echo "${VERSION_CODENAME:-}")
}

private_apt_init() {
    local work=$1 component=$2
    shift 2
    local codename
    codename=$(private_apt_release)
    if [ -z "$codename" ]; then
        private_apt_reason="/etc/os-release names no release codename"
        return 1
    fi
    local found
    found=$(private_apt_mirror "$codename" | head -n 1)
    if [ -z "$found" ]; then
        private_apt_reason="apt's sources name no mirror for $codename"
        return 1
    fi
    local uri=${found%%|*} key=${found#*|}

    rm -rf "$work"
    mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/sources" "$work/preferences"
    : >"$work/status"
    {
        echo "Types: deb"
        echo "URIs: $uri"
        echo "Suites: $*"
        echo "Components: $component"
        [ -z "$key" ] || echo "Signed-By: $key"
    } >"$work/sources/private.sources"
    # Hooks of the system's configuration would act on the system's own state, not this private one.
    cat >"$work/apt.conf" <<'EOF'
#clear APT::Update::Pre-Invoke;
#clear APT::Update::Post-Invoke;
#clear APT::Update::Post-Invoke-Success;
EOF
    private_apt_work=$work
    private_apt=(-c "$work/apt.conf"
        -o "Dir::State=$work" -o "Dir::State::Lists=$work/lists" -o "Dir::State::status=$work/status"
        -o "Dir::Cache=$work/cache" -o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$work/sources"
        -o "Dir::Etc::Preferences=/dev/null" -o "Dir::Etc::PreferencesParts=$work/preferences"
        -o "Acquire::Languages=none" -qq)
    # apt's update only warns when a suite cannot be reached; the download is what must succeed.
    apt-get "${private_apt[@]}" update >"$work/update.log" 2>&1 || true
}

private_apt_download() {
    local dir=$1
    shift
    mkdir -p "$dir"
    if [ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1; then
        # apt downloads as its own unprivileged user when run as root.
        chown _apt "$dir"
    fi
    if ! (cd "$dir" && apt-get "${private_apt[@]}" download "$@") >"$private_apt_work/download.log" 2>&1; then
        private_apt_reason="downloading $* failed: $(cat "$private_apt_work/update.log" "$private_apt_work/download.log" |
                grep -m 1 -E '^(W: Failed to fetch|E:)' | cut -c4- || true)"
        return 1
    fi
}
