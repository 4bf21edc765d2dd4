# Sourced by the tools that fetch from Debian's archive: apt with a private
# source list and private state, so that /etc/apt and the system's package
# lists stay untouched.
#
#   private_apt_setup KIND DIR [SUITES]
#
# KIND is "deb" or "deb-src"; DIR holds the lists and the download cache;
# SUITES defaults to "sid forky trixie". Afterwards "${APT_OPTS[@]}" makes
# apt-get and apt-cache use that configuration.

private_apt_setup() {
  local kind=$1 dir=$2 suites=${3:-sid forky trixie} mirror
  mkdir -p "$dir/lists/partial" "$dir/parts" "$dir/cache/archives/partial"
  # The mirror that the system already uses for its main suite.
  mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 2>/dev/null | awk '$2 !~ /-/ {print $1; exit}')
  [ -n "$mirror" ] || mirror=http://deb.debian.org/debian/
  cat > "$dir/parts/varkel.sources" <<SRC
Types: $kind
URIs: $mirror
Suites: $suites
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  APT_OPTS=(-o Dir::Etc::sourcelist=/dev/null -o "Dir::Etc::sourceparts=$dir/parts"
            -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache"
            -o Acquire::Languages=none -o APT::Sandbox::User=root)
  apt-get "${APT_OPTS[@]}" update -qq >/dev/null
}
