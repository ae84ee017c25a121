#!/usr/bin/env bash
# Fault seeding: how many small, plausible mistakes in the DLL's own sources
# (base/, module/, shellns/, command/, registration/) the test suite catches;
# with --packages, in the installer (installer/*.wxs) and the zip's scripts
# (scripts/windows/*.cmd), which the package tests check.
#
# In a scratch copy of the tree it plants one fault at a time, rebuilds the
# 64-bit build (only what the fault touched), runs the suite on it and says
# `killed` when a test failed and `SURVIVED` when all passed, with the file,
# the line and the change; a fault that does not build is counted apart.
# Last comes the share of faults killed.
#
# The faults are made by rule, not kept as patches: every place in a code
# line (not a comment, a preprocessor line or a bare declaration) where one
# of these changes applies is a site, and the seed picks the sites. Each
# change is of a kind, named first:
#   compare    a comparison loosened or tightened (" < " for " <= ", " > " for " >= ", and back)
#   logic      && for ||, and back
#   constant   a constant one off (N for N + 1 or N - 1)
#   condition  a condition negated (if (c) for if (!(c)), == for !=, and back)
#   release    a Release or ShellFree call dropped
#   held       the reference a ComRef holds given up at its end, never released
#   plusone    a "+ 1" dropped
#   view       a registry view flag swapped (KEY_WOW64_64KEY, KEY_WOW64_32KEY, none)
# and, in the files named:
#   quote      installer/powershell_command.cpp: a single quote that PowerShell
#              reads as one left out of those doubled, or a neighbour added
#   link       registration/registration.cpp: a key that holds our entries
#              opened or created through a registry link
#   probe      cmake/arm64/chkstk.S: the ARM64 stack probe steps over pages,
#              touches none, or covers half the frame; judged by the ARM64
#              build's tests under arm64 Wine
#
# In the installer and the scripts the sites are those of these changes:
#   attribute  an attribute's value turned (deferred/rollback/immediate,
#              Impersonate, Return, Win64, a component state in a condition,
#              a folder property)
#   sequence   a sequence number moved past its neighbour
#   argument   an argument swapped or dropped (/u, System32 and SysWOW64, the
#              full path of regsvr32 for a bare name, the exit code of a failure)
#   branch     a line of a failure branch dropped
#   tokens     a token number of a for /f changed (N for N + 1 or N - 1)
#   buildenv   a variable that fixes the release's bytes (TZ, LC_ALL,
#              SOURCE_DATE_EPOCH) dropped from scripts/package.sh's exports
#   log        installer/run_powershell.cpp: PowerShell's error stream left
#              out of the log, its output read in the ANSI code page
#   steps      a switch (-AllUsers, -Online, -Stage, -SkipLicense) or a
#              filter on our family and publisher dropped from a package step
#   rollback   a rollback action's condition changed alone: the other state,
#              the Windows 11 or the LocalSystem term dropped
#   machine    a machine name that a script compares with swapped for another
#   waiver     scripts/package.sh: signing without a time stamp waived by
#              another value than NORRVANE_SIGN_NO_TIMESTAMP=1
#   packagecode  scripts/package.sh: an input of an MSI's package code left
#              out, or the ARM64 MSI's taken from the x64 DLL
#   publisher  scripts/make_sparse_package.py: a character that makes Windows
#              quote a subject's value left out
# and each is judged by scripts/package.sh, check_package.sh and
# install_test.sh on the built DLLs; a fault in scripts/package.sh also by
# reproducible_test.sh (for it the scratch tree is a repository of its own),
# one in scripts/make_sparse_package.py first by sparse_package_test.sh.
#
# --kinds K1,K2 seeds the sites of those kinds only; --list prints the sites
# (file, line, column, old text, new text, kind) and seeds nothing.
#
# A tool, not a test: CI does not run it. It takes some 25 minutes for 40
# faults in the sources on two cores (a full build and the suite once first),
# some 3 minutes a fault in the installer and scripts, and some 5 more for a
# fault in scripts/package.sh.
# usage: scripts/seed-faults.sh [--packages] [--kinds K1,K2] [--list] [COUNT] [SEED]   (40 faults, seed 20261208)
set -euo pipefail
packages="" kinds="" list=""
while [ $# -gt 0 ]; do
  case $1 in
    --packages) packages=1 ;;
    --list) list=1 ;;
    --kinds) kinds=$2; shift ;;
    *) break ;;
  esac
  shift
done
count=${1:-40}
seed=${2:-20261208}
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$root/build/seed-faults${packages:+-packages}${list:+-list}
tree=$scratch/tree
build=$scratch/x64
export WINEDEBUG=-all

[ -n "$list" ] || echo "seed-faults: $count faults, seed $seed"
bash "$root/scripts/setup.sh"

# A scratch tree with fresh times, so that a fault left behind by an
# interrupted run is rebuilt away.
rm -rf "$tree"
mkdir -p "$tree"
tar -C "$root" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$tree" -m -xf -
if [ -n "$packages" ]; then
  # reproducible_test.sh builds the tracked files at the last commit's time.
  (cd "$tree" && git init -q && git add -A && GIT_AUTHOR_DATE=@1700000000 GIT_COMMITTER_DATE=@1700000000 \
    git -c user.name=seed -c user.email=seed@localhost commit -q -m tree)
fi
[ -n "$list" ] || (cd "$tree" && cmake --preset x64 -B "$build" -DNORRVANE_WARNINGS_AS_ERRORS=OFF >/dev/null)
if [ -n "$packages" ] && [ -z "$list" ]; then
  bash "$tree/tests/package/make_test_certificate.sh" "$scratch/certificate"
  # The package tests take the DLLs from the tree's own build folders and its
  # tools (the right-click host) from its 64-bit build.
  for preset in x86 x64 arm64; do
    (cd "$tree" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j 2 >"$scratch/build.log" 2>&1)
  done
fi

stop_wine() {
  local prefix
  for prefix in "$build/wineprefix" "$build/tests/dll/regsvr32-prefix" "$scratch/package-test/prefix"; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  done
}
build_and_test() {
  if [ -n "$packages" ]; then
    test_packages "${1:-}"
    return
  fi
  case ${1:-} in cmake/arm64/*) test_arm64; return ;; esac
  cmake --build "$build" -j 2 >"$scratch/build.log" 2>&1 || return 2
  # The soak test alone takes some 90 s on a busy machine: a timeout near
  # that counts a fault killed that the tests let pass.
  ctest --test-dir "$build" -j 2 --stop-on-failure --timeout 300 >"$scratch/test.log" 2>&1
  local status=$?
  stop_wine
  return $status
}
# The ARM64 build of the scratch tree and its tests under arm64 Wine, which
# is taken from the work tree's own ARM64 build when it has one.
arm64=$scratch/arm64
test_arm64() {
  if [ ! -f "$arm64/CMakeCache.txt" ]; then
    (cd "$tree" && cmake --preset arm64 -B "$arm64" -DNORRVANE_WARNINGS_AS_ERRORS=OFF >/dev/null)
    [ ! -d "$root/build/arm64/arm64-wine" ] || [ -e "$arm64/arm64-wine" ] || cp -al "$root/build/arm64/arm64-wine" "$arm64/"
  fi
  cmake --build "$arm64" -j 2 >"$scratch/build.log" 2>&1 || return 2
  ctest --test-dir "$arm64" --stop-on-failure --timeout 600 >"$scratch/test.log" 2>&1
  local status=$?
  # A test skipped (no arm64 Wine here) judged nothing.
  grep -q 'Skipped' "$scratch/test.log" && status=3
  [ ! -x "$arm64/arm64-wine/root/usr/lib/wine/wineserver64" ] ||
    WINEPREFIX="$arm64/wineprefix" "$arm64/arm64-wine/root/usr/lib/wine/wineserver64" -k 2>/dev/null || true
  return $status
}
# The release made from the scratch tree's DLLs, signed with a throwaway
# certificate so that it has all its parts, and the package tests on it. A
# fault in FILE scripts/package.sh is judged by two unsigned builds too, one
# in scripts/make_sparse_package.py by the sparse package's test first.
test_packages() {
  local made status certificate=$scratch/certificate
  if [ "${1:-}" = scripts/make_sparse_package.py ] &&
    ! bash "$tree/tests/package/sparse_package_test.sh" "$scratch/sparse-package-test" >"$scratch/test.log" 2>&1; then
    return 1
  fi
  rm -rf "$scratch/dist"
  made=$(cd "$tree" && NORRVANE_SIGN_PFX=$certificate/signer.pfx NORRVANE_SIGN_PASSWORD_FILE=$certificate/password.txt \
    NORRVANE_SIGN_NO_TIMESTAMP=1 bash scripts/package.sh "$scratch/dist" 2>"$scratch/build.log") || return 2
  mapfile -t made <<<"$made"
  # The quickest first: the first test that fails decides.
  {
    bash "$tree/tests/package/check_package.sh" --ca "$certificate/ca.pem" "${made[@]}" &&
      { [ "${1:-}" != scripts/package.sh ] ||
        bash "$tree/tests/package/reproducible_test.sh" "$scratch/reproducible" "${made[0]}"; } &&
      bash "$tree/tests/package/install_test.sh" "${made[@]:0:4}" "$scratch/package-test" "$certificate/ca.pem"
  } >"$scratch/test.log" 2>&1
  status=$?
  stop_wine
  return $status
}

# The sites, one per line: file, line, column, old text, new text. Strings,
# character literals and comments are masked before anything is matched.
sites() {
  (cd "$tree" && find base module shellns command registration -name '*.cpp' -o -name '*.h' | sort) |
    perl -e '
      use strict; use warnings;
      my $tree = shift;
      while (my $file = <STDIN>) {
        chomp $file;
        open my $in, "<", "$tree/$file" or die "$file: $!";
        my $n = 0;
        while (my $line = <$in>) {
          $n++;
          chomp $line;
          (my $mask = $line) =~ s{L?"(?:[^"\\]|\\.)*"|L?\x27(?:[^\x27\\]|\\.)*\x27}{" " x length($&)}ge;
          $mask =~ s{//.*}{" " x length($&)}e;
          next if $mask =~ /^\s*(#|$)/;
          # A declaration alone: a forward or extern declaration, or a
          # prototype (a type, a name and parameters, then a semicolon).
          next if $mask =~ /^\s*(extern|class|struct|using|template|friend)\b/ && $mask !~ /=/;
          next if $mask =~ /^\s*(?!return\b|delete\b|else\b)(?:[\w:]+(?:<[^>]*>)?[\s*&]+)+~?[\w:]+\s*\([^;{}]*\)[\w\s]*;\s*$/
                  && $mask !~ /=/;
          my @found;
          my %swap = (" < " => " <= ", " <= " => " < ", " > " => " >= ", " >= " => " > ",
                      " && " => " || ", " || " => " && ", " == " => " != ", " != " => " == ");
          while ($mask =~ / (<=|>=|<|>|&&|\|\||==|!=) /g) {
            my ($at, $old) = ($-[0], " $1 ");
            push @found, [$at, $old, $swap{$old}, $1 =~ /^[&|]/ ? "logic" : $1 =~ /^[=!]/ ? "condition" : "compare"];
            pos($mask) = $at + 1;
          }
          while ($mask =~ /(?<![\w.])(0[xX][0-9A-Fa-f]+|\d+)(?![\w.])/g) {
            my ($at, $text) = ($-[0], $1);
            my $value = $text =~ /^0[xX]/ ? hex($text) : $text;
            my $format = $text =~ /^0[xX]/ ? sub { sprintf("0x%0*X", length($text) - 2, $_[0]) } : sub { $_[0] };
            push @found, [$at, $text, $format->($value + 1), "constant"];
            push @found, [$at, $text, $format->($value - 1), "constant"] if $value > 0;
          }
          while ($mask =~ /\b(if|while) (\((?:[^()]++|(?2))*\))/g) {
            my ($at, $cond) = ($-[2], $2);
            push @found, [$at, substr($line, $at, length $cond), "(!" . substr($line, $at, length $cond) . ")", "condition"];
          }
          while ($mask =~ /(?<!void )\b(?:[A-Za-z_][\w.]*(?:->|\.)Release\(\)|ShellFree(\((?:[^()]++|(?1))*\)))/g) {
            push @found, [$-[0], substr($line, $-[0], $+[0] - $-[0]), "(void)0", "release"];
          }
          while ($mask =~ / \+ 1(?![\w.])/g) {
            push @found, [$-[0], " + 1", "", "plusone"];
          }
          # A local ComRef that gives up its reference as its scope ends.
          if ($file =~ /\.cpp$/ && $mask =~ /^(\s+)(ComRef<([\w:]+)> (\w+);)\s*$/) {
            push @found, [length $1, $2, "$2 struct SeedLeak { ComRef<$3>& held; ~SeedLeak() { held.release(); } } seedLeak{$4};", "held"];
          }
          while ($mask =~ /\bKEY_WOW64_(64|32)KEY\b/g) {
            my ($at, $old) = ($-[0], $&);
            push @found, [$at, $old, "KEY_WOW64_" . ($1 == 64 ? 32 : 64) . "KEY", "view"], [$at, $old, "0", "view"];
          }
          for my $f (@found) {
            my ($at, $old, $new, $kind) = @$f;
            print join("\t", $file, $n, $at, $old, $new, $kind), "\n";
          }
        }
      }' "$tree"
  (cd "$tree" && ls installer/powershell_command.cpp registration/registration.cpp cmake/arm64/chkstk.S) | rule_sites
}

# The sites of the installer and the scripts, in the same form.
package_sites() {
  (cd "$tree" && ls installer/*.wxs scripts/windows/*.cmd scripts/package.sh installer/run_powershell.cpp \
    scripts/make_sparse_package.py) | rule_sites
}

# The sites of the kinds made by a rule, in the files named on standard input.
rule_sites() {
  perl -e '
      use strict; use warnings;
      my $tree = shift;
      # A pattern, what each match becomes ($1 is kept where it is used; one
      # site for each text given), the kind, the files it applies to and,
      # where given, the lines.
      my $installer = qr/\.(wxs|cmd)$/;
      my $script = qr/<\?define (?:Provision|Unprovision|RegisterForUser|UnregisterForUser) =/;
      my $undo = qr/<Custom Action="Undo/;
      my $waived = q{[ "${NORRVANE_SIGN_NO_TIMESTAMP:-}" != 1 ]};
      my @rules = (
        [qr/c == L\x27\\\x27\x27 \|\| /, sub { "" }, "quote", qr/powershell_command\.cpp$/],
        [qr/0x(2018|201B)\b/, sub { $_[0] eq "2018" ? ("0x2017", "0x2019") : ("0x201A", "0x201C") }, "quote",
         qr/powershell_command\.cpp$/],
        [qr/\b(Open|Create)KeyNotLink\(/, sub { "$_[0]Key(" }, "link", qr/registration\.cpp$/],
        [qr/(?:sub|subs)\s+x1[67], x1[67], #(4096)/, sub { my $m = $_[1]; $m =~ s/4096$/8192/; $m }, "probe", qr/\.S$/],
        [qr/ldr\s+xzr, \[x17\]/, sub { "nop" }, "probe", qr/\.S$/],
        [qr/lsl\s+x16, x15, #(4)/, sub { "lsl     x16, x15, #3" }, "probe", qr/\.S$/],
        [qr/startup\.hStdError = writeEnd;/, sub { "" }, "log", qr/run_powershell\.cpp$/],
        [qr/CP_OEMCP/, sub { "CP_ACP" }, "log", qr/run_powershell\.cpp$/],
        [qr/ -(?:AllUsers|Online|Stage|SkipLicense)\b/, sub { "" }, "steps", qr/\.wxs$/, $script],
        [qr/ \| Where-Object \{[^}]*\}/, sub { "" }, "steps", qr/\.wxs$/, $script],
        [qr/ -and \$_\.\w+ -eq \S+/, sub { "" }, "steps", qr/\.wxs$/, $script],
        [qr/ \$_\.\w+ -eq \S+ -and/, sub { "" }, "steps", qr/\.wxs$/, $script],
        [qr/\$\$\w+=([23])/, sub { my $m = $_[1]; $m =~ s/=([23])$/"=" . (5 - $1)/e; $m }, "rollback", qr/\.wxs$/, $undo],
        [qr/\$\(var\.Windows11\) AND | AND UserSID &lt;&gt; "S-1-5-18"/, sub { "" }, "rollback", qr/\.wxs$/, $undo],
        [qr/=="(x86|AMD64|ARM64)"/, sub { my $was = $_[0]; map { "==\"$_\"" } grep { $_ ne $was } qw(x86 AMD64 ARM64) },
         "machine", qr/\.cmd$/],
        [qr/\Q$waived\E/, sub { (q{[ -z "${NORRVANE_SIGN_NO_TIMESTAMP:-}" ]}, q{[ "${NORRVANE_SIGN_NO_TIMESTAMP:-}" = 0 ]},
                                  q{[ "${NORRVANE_SIGN_NO_TIMESTAMP:-1}" != 1 ]}) }, "waiver", qr/package\.sh$/],
        [qr/"\$native\/NorrvaneShLnk\.dll"/, sub { "x64/NorrvaneShLnk.dll" }, "packagecode", qr/package\.sh$/,
         qr/^\s*inputs=/],
        [qr/cat "\$wxs" && | && printf \x27%s\x27 "\$\{sparse_files\[\*\]\}"/, sub { "" }, "packagecode", qr/package\.sh$/],
        [qr/Execute="(deferred)"/, sub { "Execute=\"immediate\"" }, "attribute", $installer],
        [qr/Execute="(rollback)"/, sub { "Execute=\"deferred\"" }, "attribute", $installer],
        [qr/Impersonate="(no)"/, sub { "Impersonate=\"yes\"" }, "attribute", $installer],
        [qr/Return="(check)"/, sub { "Return=\"ignore\"" }, "attribute", $installer],
        [qr/Win64="(yes|no)"/, sub { $_[0] eq "yes" ? "Win64=\"no\"" : "Win64=\"yes\"" }, "attribute", $installer],
        [qr/\$\$Dll(?:64|32)=([23])/, sub { my $m = $_[1]; $m =~ s/=([23])$/"=" . (5 - $1)/e; $m }, "attribute", $installer],
        [qr/\[(System64Folder|SystemFolder)\]/, sub { $_[0] eq "SystemFolder" ? "[System64Folder]" : "[SystemFolder]" }, "attribute", $installer],
        [qr/\[(ProgramFiles64Folder|ProgramFilesFolder)\]/, sub { $_[0] eq "ProgramFilesFolder" ? "[ProgramFiles64Folder]" : "[ProgramFilesFolder]" }, "attribute", $installer],
        [qr/Sequence="(\d+)"/, sub { "Sequence=\"" . ($_[0] + 2) . "\"" }, "sequence", $installer],
        [qr/(\/u )\/s/, sub { "/s" }, "argument", $installer],
        [qr/ExeCommand="(\/s) /, sub { "ExeCommand=\"/u /s " }, "argument", $installer],
        [qr/\\(System32|SysWOW64)\\regsvr32/i, sub { lc($_[0]) eq "system32" ? "\\SysWOW64\\regsvr32" : "\\System32\\regsvr32" }, "argument", $installer],
        [qr/^(\s*)"%~[23]" /, sub { $_[0] . "regsvr32 " }, "argument", $installer],
        [qr/exit \/b (1)/, sub { "exit /b 0" }, "argument", $installer],
        [qr/errorlevel (1)/, sub { "errorlevel 2" }, "argument", $installer],
        [qr/NOT (VersionNT64)/, sub { "VersionNT64" }, "attribute", $installer],
      );
      while (my $file = <STDIN>) {
        chomp $file;
        open my $in, "<", "$tree/$file" or die "$file: $!";
        my $n = 0;
        while (my $line = <$in>) {
          $n++;
          $line =~ s/\r?\n$//;
          next if $line =~ /^\s*(rem\b|<!--|#|\/\/|$)/;
          for my $rule (@rules) {
            my ($pattern, $make, $kind, $files, $lines) = @$rule;
            next unless $file =~ $files && (!$lines || $line =~ $lines);
            while ($line =~ /$pattern/g) {
              my ($at, $old) = ($-[0], $&);
              print join("\t", $file, $n, $at, $old, $_, $kind), "\n" for $make->($1, $old);
            }
          }
          # Each number of a for /f tokens= list, one up and one down.
          while ($file =~ /\.cmd$/ && $line =~ /tokens=([\d,*-]+)/g) {
            my ($list_at, $list) = ($-[1], $1);
            while ($list =~ /\d+/g) {
              my ($at, $old) = ($list_at + $-[0], $&);
              print join("\t", $file, $n, $at, $old, $old + 1, "tokens"), "\n";
              print join("\t", $file, $n, $at, $old, $old - 1, "tokens"), "\n" if $old > 1;
            }
          }
          # An exported variable that fixes the release'"'"'s bytes dropped.
          if ($file =~ /\.sh$/ && $line =~ /^export (.*\S)\s*$/) {
            my @assignments = split / /, $1;
            for my $dropped (grep { /^(TZ|LC_ALL|SOURCE_DATE_EPOCH)=/ } @assignments) {
              my @left = grep { $_ ne $dropped } @assignments;
              print join("\t", $file, $n, 0, "export $1", @left ? "export @left" : ":", "buildenv"), "\n";
            }
          }
          # A line of a failure branch dropped.
          if ($file =~ /\.cmd$/ && $line =~ /^(\s*)(set "(?:FAILED|IN_USE)=1"|exit \/b 1|goto :eof)\s*$/) {
            print join("\t", $file, $n, length $1, $2, "rem", "branch"), "\n";
          }
          # Each input of an MSI'"'"'s package code left out.
          if ($file =~ /package\.sh$/ && $line =~ /^\s*inputs\+?=\((.*)\)\s*$/) {
            my ($at, @inputs) = ($-[1], split / /, $1);
            for my $i (0 .. $#inputs) {
              my @left = @inputs;
              splice @left, $i, 1;
              print join("\t", $file, $n, $at, "@inputs", "@left", "packagecode"), "\n";
            }
          }
          # Each character that makes Windows quote a value left out.
          if ($file =~ /make_sparse_package\.py$/ && $line =~ /re\.search\(r\x27\[([^\]]+)\]\x27, value\)/) {
            my ($at, $class) = ($-[1], $1);
            while ($class =~ /\\.|./g) {
              (my $left = $class) =~ s/\Q$&\E//;
              print join("\t", $file, $n, $at, $class, $left, "publisher"), "\n";
            }
          }
        }
      }' "$tree"
}

# COUNT of the sites, picked by the seed: a Fisher-Yates shuffle driven by a
# linear congruential generator of its own, the same on every machine.
pick() {
  perl -e '
    my ($count, $seed) = @ARGV;
    my @sites = <STDIN>;
    my $state = $seed % 2147483648;
    for (my $i = $#sites; $i > 0; $i--) {
      $state = ($state * 1103515245 + 12345) % 2147483648;
      my $j = $state % ($i + 1);
      @sites[$i, $j] = @sites[$j, $i];
    }
    print @sites[0 .. ($count > @sites ? $#sites : $count - 1)];' "$count" "$seed"
}

# plant FILE LINE COLUMN OLD NEW: the change, in the scratch tree's file.
plant() {
  perl -i -e '
    my ($line, $column, $old, $new) = splice(@ARGV, 0, 4);
    while (<>) {
      if ($. == $line) {
        substr($_, $column, length $old) eq $old or die "not at the site: $_";
        substr($_, $column, length $old) = $new;
      }
      print;
    }' "$2" "$3" "$4" "$5" "$tree/$1"
}

# The sites of the kinds asked for (all without --kinds).
site_list() {
  if [ -n "$packages" ]; then package_sites; else sites; fi |
    awk -F'\t' -v kinds="$kinds" 'kinds == "" || index("," kinds ",", "," $6 ",")'
}
if [ -n "$list" ]; then
  site_list
  exit 0
fi

echo "seed-faults: building and testing the tree as it is"
if ! build_and_test ${packages:+scripts/package.sh}; then
  echo "seed-faults: the tree does not build or pass as it is; see $scratch/build.log and $scratch/test.log" >&2
  exit 1
fi

mapfile -t chosen < <(site_list | pick "$count" "$seed")
for site in "${chosen[@]}"; do
  case $site in cmake/arm64/*)
    if ! test_arm64; then
      echo "seed-faults: the ARM64 build does not build or pass as it is, or arm64 Wine cannot run here; see $scratch/test.log" >&2
      exit 1
    fi
    break ;;
  esac
done
echo "seed-faults: ${#chosen[@]} of $(site_list | wc -l) sites${packages:+ in the installer and the scripts}${kinds:+ of the kinds $kinds}"
killed=0 survived=0 unbuilt=0 number=0
for site in "${chosen[@]}"; do
  # A tab is a blank to read, and blanks in a row make one separator: read
  # apart at a character that is not one, an empty text (a change that drops
  # something) stays a field of its own.
  IFS=$'\x1f' read -r file line column old new kind <<<"${site//$'\t'/$'\x1f'}"
  number=$((number + 1))
  cp "$tree/$file" "$scratch/original"
  plant "$file" "$line" "$column" "$old" "$new"
  status=0
  build_and_test "$file" || status=$?
  # The original back, newer than the objects built from the fault.
  cp "$scratch/original" "$tree/$file"
  touch "$tree/$file"
  case $status in
    0) verdict=SURVIVED survived=$((survived + 1)) ;;
    2) verdict="no build" unbuilt=$((unbuilt + 1)) ;;
    *) verdict=killed killed=$((killed + 1)) ;;
  esac
  printf '%3d %-8s %-9s %s:%s  %s -> %s\n' "$number" "$verdict" "$kind" "$file" "$line" "'$old'" "'$new'"
done

tested=$((killed + survived))
echo "seed-faults${packages:+ (installer and scripts)}: seed $seed: killed $killed of $tested faults that build ($((tested ? 100 * killed / tested : 0))%), $survived survived, $unbuilt did not build"
