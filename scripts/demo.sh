#!/usr/bin/env bash
# The main job, on an emulated Windows machine that this script creates: the
# installer engine's run of the kit's installer tools during an installation,
# told step by step, then the Install.log they wrote and the boxes the user saw.
#
#   scripts/demo.sh [MACHINE_DIR]     (default: a new folder under /tmp)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages
if [ ! -x build/bin/w32 ] || [ ! -x build/bin/Unpacker.exe ] || [ ! -f build/bin/standins/classes/ZipDecomp.class ]; then
  step "building the kit (POSIX build)"
  cmake -S . -B build -G Ninja >/dev/null
  ninja -C build >/dev/null
fi
bin=$PWD/build/bin

machine=${1:-$(mktemp -d /tmp/kit-demo-XXXXXX)}
[ -d "$machine" ] && [ -z "$(ls -A "$machine")" ] && rmdir "$machine"
"$bin/w32" init "$machine" >/dev/null
export W32_MACHINE=$machine
w32() { "$bin/w32" "$@"; }
host() { w32 path "$1"; }

say() { printf '%s\n' "$*"; }
log_lines=0
install_log="C:\\Program Files\\Tessaly\\Nimbrel\\Install.log"

# run TOOL 'ARGS': runs one installer tool as the engine does, from the
# engine's folder "C:\Setup Files" and with that folder as its current one,
# then tells its exit code and the Install.log entries it added.
run() {
  local tool=$1 args=$2
  local boxes_before
  boxes_before=$(w32 boxes | wc -l)
  set +e
  w32 run --cwd 'C:\Setup Files' "\"C:\\Setup Files\\$tool.exe\" $args"
  local code=$?
  set -e
  say "  $tool $args -> exit code $code"
  local file
  file=$(host "$install_log")
  if [ -f "$file" ]; then
    iconv -f CP932 -t UTF-8 "$file" | tr -d '\r' | grep -v '^\[' | tail -n +$((log_lines + 1)) |
      sed -e 's/^\([0-9:.]*\)=\[\([^]]*\)\][^(]*(line: *\([0-9]*\))/    \1 \2 (line \3) /'
    log_lines=$(iconv -f CP932 -t UTF-8 "$file" | tr -d '\r' | grep -vc '^\[' || true)
  fi
  local boxes_after
  boxes_after=$(w32 boxes | wc -l)
  [ "$boxes_after" -gt "$boxes_before" ] && say "    ($((boxes_after - boxes_before)) message box(es) shown: see the end)"
  return 0
}

step "A fresh Windows machine in $machine (real-time clock: every log entry pauses 100 ms)"
say "The installer engine has registered the product under"
say "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Nimbrel"
say "and created its marker files in the product folder."
cat > "$machine/product.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Nimbrel]
"InstallLocation"="C:\\Program Files\\Tessaly"
"JRE_HOME"="C:\\Program Files\\Tessaly\\Nimbrel\\JRE"
"TomcatPort"="8080"
"LocalHost"="localhost"
REG
w32 reg import "$machine/product.reg"
product=$(host 'C:\Program Files\Tessaly\Nimbrel')
mkdir -p "$product"
for m in InstSystem InstText InstProgram; do echo "engine marker" > "$product/$m.txt"; done
w32 volume C: --free 21474836480 >/dev/null

step "The engine's folder: the kit's tools, the JRE installer, the extraction class and an archive"
setup=$(host 'C:\Setup Files')
mkdir -p "$setup/jre" "$machine/archive/conf"
cp "$bin"/*.exe "$bin/standins/Mirror.exe" "$bin/standins/classes/ZipDecomp.class" "$setup/"
cp "$bin/standins/jre-6u15-windows-i586.exe" "$setup/jre/"
echo '<h1>Tessaly</h1>' > "$machine/archive/index.html"
echo 'locale=ja' > "$machine/archive/conf/app.properties"
(cd "$machine/archive" && jar --create --file "$setup/webapps.zip" --no-manifest .)
say "  $(cd "$setup" && ls | tr '\n' ' ')"

step "Pre-install checks: enough space, a path that is not too long"
run Capacity 'C:\Program Files\Tessaly'
run SpanGuard 'C:\Program Files\Tessaly'

step "Java runtime: Setup found none (JRE_CHECK_ON), so its installer must succeed; then a private copy"
export QOR_INSTALL_JRE_CHECK=JRE_CHECK_ON
run Provision 'C:\Setup Files\jre'
say "  registered: $(w32 reg export | tr -d '\r' | grep -A1 'Java Runtime Environment\\1.6.0_15' | tail -1)"
run Transplant 'C:\Program Files\Tessaly\Nimbrel'
say "  the product's runtime: $(ls "$product/JRE/bin" | tr '\n' ' ')"

step "Archive extraction through Java: ZipDecomp on the product's runtime"
run Unpacker '"C:\Setup Files\webapps.zip" "C:\Program Files\Tessaly\Nimbrel\webapps.new"'
say "  extracted: $(cd "$product/webapps.new" && find . -type f | sort | tr '\n' ' ')"

step "Version gate: the installed version and the package's"
printf 'VERSION= 2 1 0 0 7 \r\n' > "$product/version.txt"
printf 'VERSION= 2 1 3 0 1 \r\n' > "$product/version_new.txt"
run EditionGate '"-r" "C:\Program Files\Tessaly\Nimbrel\version.txt" "C:\Program Files\Tessaly\Nimbrel\version_new.txt"'
say "  the package is newer: its version file stays -> $(ls "$product" | grep -c version_new) file"
run EditionGate '"-w" "C:\Program Files\Tessaly\Nimbrel\version.txt" "2 1 3 0 1"'
say "  version.txt now reads: $(tr -d '\r' < "$product/version.txt")"

step "File tools: copy a settings file over a read-only one, widen a folder's rights, rename, delete"
mkdir -p "$product/conf" "$product/work/cache/tmp" "$product/webapps.old"
echo "port=8080" > "$product/conf/server.new"
echo "old" > "$product/conf/server.properties"
w32 attrib +r 'C:\Program Files\Tessaly\Nimbrel\conf\server.properties' >/dev/null
run Replicate '"C:\Program Files\Tessaly\Nimbrel\conf\server.new" "C:\Program Files\Tessaly\Nimbrel\conf\server.properties"'
w32 acl 'C:\Program Files\Tessaly\Nimbrel\conf' 'D:(A;OICI;0x1200a9;;;S-1-5-32-545)(A;OICI;0x1f01ff;;;S-1-5-32-544)' >/dev/null
say "  rights before: $(w32 acl 'C:\Program Files\Tessaly\Nimbrel\conf')"
run AclWiden 'C:\Program Files\Tessaly\Nimbrel\conf'
say "  rights after:  $(w32 acl 'C:\Program Files\Tessaly\Nimbrel\conf')"
run Relabel '"C:\Program Files\Tessaly\Nimbrel\webapps.old" "C:\Program Files\Tessaly\Nimbrel\webapps"'
run Erase 'C:\Program Files\Tessaly\Nimbrel\conf\server.new'
echo "x" > "$product/work/cache/tmp/a.dat"
echo "y" > "$product/work/cache/b.dat"
w32 attrib +r 'C:\Program Files\Tessaly\Nimbrel\work\cache\b.dat' >/dev/null
run PruneTree 'C:\Program Files\Tessaly\Nimbrel\work'

step "A user who chose a path that is too long: the tool refuses it and removes the markers"
say "  marker files before: $(cd "$product" && ls Inst*.txt 2>/dev/null | tr '\n' ' ')"
run SpanGuard 'C:\Program Files\Tessaly\a folder name that is much too long for the product'
say "  marker files after:  $(cd "$product" && ls Inst*.txt 2>/dev/null | tr '\n' ' ')(none left)"

step "The boxes the user saw"
w32 boxes --plain

step "Install.log as it stands (sections are dates, keys times of day)"
iconv -f CP932 -t UTF-8 "$(host "$install_log")" | tr -d '\r' | head -n 12
say "  ... $(iconv -f CP932 -t UTF-8 "$(host "$install_log")" | grep -vc '^\[') entries in all"
say
say "The machine stays in $machine: try  W32_MACHINE=$machine $bin/w32 help"
