#!/usr/bin/env bash
# The demo's keeping of the exchange files (scripts/exchange_files.sh): what
# stood at each name before a run stands there after it, whatever the run put
# there and however it ended, and what was absent is absent again. First on
# names in a private folder, then on the machine's own exchange files under
# the machine-wide lock the other tests of those files take.
#
#   tst_exchange_files.sh <source folder>
set -uo pipefail
source "$1/scripts/exchange_files.sh" || exit 1

failures=0
check() { # check <what> <expected> <actual>
  if [ "$2" != "$3" ]; then
    printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

# What stands at a name, without following a link or reading a FIFO: type,
# mode, link text and content (of every entry of a folder).
state_of() {
  local path=$1
  if [ -L "$path" ]; then
    printf 'link %s' "$(readlink -- "$path")"
  elif [ -d "$path" ]; then
    printf 'folder %s:' "$(stat -c %a -- "$path")"
    (cd -- "$path" && find . -mindepth 1 -printf '%p %y %m\n' | sort && find . -type f -exec sha1sum {} + | sort)
  elif [ -p "$path" ]; then
    printf 'fifo %s' "$(stat -c %a -- "$path")"
  elif [ -f "$path" ]; then
    printf 'file %s %s' "$(stat -c %a -- "$path")" "$(sha1sum < "$path")"
  elif [ -e "$path" ]; then
    printf 'other'
  else
    printf 'absent'
  fi
}

# What a run leaves at a name: a file, a folder, a link to a file outside
# (which a restore must not write through), or nothing.
spoil() {
  case $2 in
    file) rm -rf -- "$1" && printf 'left by the run\n' > "$1" ;;
    folder) rm -rf -- "$1" && mkdir -p -- "$1/inner" && printf 'x' > "$1/inner/f" ;;
    link) rm -rf -- "$1" && ln -s -- "$outside" "$1" ;;
    none) rm -rf -- "$1" ;;
  esac
}

base=$(mktemp -d /tmp/tst_exchange_files.XXXXXX) || exit 1
trap 'rm -rf -- "$base"' EXIT
outside=$base/outside
printf 'outside, untouched\n' > "$outside"

# Every kind of thing that can stand at a name, against every kind of thing a
# run can leave there; each run ends in another way.
make_before() {
  local d=$1
  mkdir -p "$d"
  printf '{"prj_path":"/p"}\n' > "$d/file" && chmod 640 "$d/file"
  : > "$d/empty"
  ln -s "$outside" "$d/link"
  ln -s "$base/nowhere" "$d/dangling"
  mkfifo "$d/fifo"
  mkdir -p "$d/folder/sub" && printf 'kept' > "$d/folder/sub/k" && chmod 750 "$d/folder"
  # "absent" is not made.
}
names=(file empty link dangling fifo folder absent)
case_number=0
for run in 'file:return' 'folder:exit 3' 'link:set -e failure' 'none:TERM'; do
  run_leaves=${run%%:*}
  how=${run#*:}
  {
    case_number=$((case_number + 1))
    d=$base/case$case_number
    make_before "$d"
    paths=()
    before=()
    for n in "${names[@]}"; do
      paths+=("$d/$n")
      before+=("$(state_of "$d/$n")")
    done
    outside_before=$(state_of "$outside")
    # The run, in a shell of its own that ends as `how` says.
    (
      trap exchange_files_restore EXIT
      exchange_files_save "$base/saved$case_number" "${paths[@]}" || exit 90
      for p in "${paths[@]}"; do
        [ -e "$p" ] || [ -L "$p" ] && exit 91 # saving leaves a clean slate
      done
      for p in "${paths[@]}"; do
        spoil "$p" "$run_leaves"
      done
      case $how in
        return) ;;
        'exit 3') exit 3 ;;
        'set -e failure') set -e && false ;;
        TERM) kill -TERM $BASHPID && sleep 5 ;;
      esac
    )
    status=$?
    case $status in 90 | 91) check "case $case_number: the save" "a clean slate" "status $status" ;; esac
    for i in "${!names[@]}"; do
      check "${names[$i]} after a run that left $run_leaves and ended by $how" "${before[$i]}" \
        "$(state_of "${paths[$i]}")"
    done
    check "the file a link points at, after a run that left $run_leaves and ended by $how" "$outside_before" \
      "$(state_of "$outside")"
    check "the save folder is gone after a full restore ($how)" absent "$(state_of "$base/saved$case_number")"
  }
done

# A save folder that already exists (an earlier run's saved files) is not
# written into, and nothing is moved.
mkdir -p "$base/taken" "$base/e" && printf 'kept' > "$base/e/x"
x_before=$(state_of "$base/e/x")
if (exchange_files_save "$base/taken" "$base/e/x") 2> /dev/null; then
  check "a save into an existing folder" refused accepted
fi
check "the file of a refused save" "$x_before" "$(state_of "$base/e/x")"
check "the folder of a refused save" "folder $(stat -c %a "$base/taken"):" "$(state_of "$base/taken")"

# The machine's own exchange files, under the lock: each is as it was after a
# run that wrote all of them and was ended by a signal.
exec 9> /tmp/.nomu_exchange_files.lock
flock -w 600 9 || {
  echo "FAIL: the exchange-file lock was not free within 600 s"
  exit 1
}
real_before=()
for p in "${exchange_file_paths[@]}"; do
  real_before+=("$(state_of "$p")")
done
(
  trap exchange_files_restore EXIT
  exchange_files_save "$base/saved_real" "${exchange_file_paths[@]}" || exit 90
  for p in "${exchange_file_paths[@]}"; do
    spoil "$p" file
  done
  kill -TERM $BASHPID && sleep 5
)
for i in "${!exchange_file_paths[@]}"; do
  check "${exchange_file_paths[$i]} after a run" "${real_before[$i]}" "$(state_of "${exchange_file_paths[$i]}")"
done
flock -u 9

# The demo keeps the files it uses: each exchange name in it is in the list.
for name in $(grep -oE '/tmp/(varnex|sarvik)[a-z_.]*[a-z]' "$1/scripts/demo" | sort -u); do
  case " ${exchange_file_paths[*]} " in
    *" $name "*) ;;
    *) check "the demo's $name is kept" kept "not in the list" ;;
  esac
done

# The list holds every name the programs themselves make under /tmp on the
# demo's road: the server and the trainer run once each in a private mount
# namespace with an empty /tmp of its own (nothing of the machine's is
# touched), and whatever they leave there must be a name the demo puts back.
# Qt's own runtime folder (runtime-<user>, made by any Qt program when
# XDG_RUNTIME_DIR is unset) is not theirs. A build tree under /tmp (a clone
# made there) is bound back into the new /tmp at its own path, through a
# descriptor opened before the mount, so that its programs can be run; that
# one name is not theirs either.
#   arguments 2 and 3: the built sarvik_server and nomu_pelto_varnex
tree_top=""
case $2 in /tmp/?*) tree_top=${2#/tmp/} && tree_top=${tree_top%%/*} ;; esac
if [ $# -ge 3 ] && [ "$(id -u)" -eq 0 ] && unshare -m true 2> /dev/null; then
  left=$(unshare -m bash -s "$2" "$3" "$tree_top" << 'PRIVATE'
set -u
mount --make-rprivate / 2> /dev/null
if [ -n "$3" ]; then exec 8< "/tmp/$3" || exit 1; fi
mount -t tmpfs -o mode=1777 tmpfs /tmp || exit 1
if [ -n "$3" ]; then
  mkdir "/tmp/$3" && mount --no-canonicalize --bind /proc/self/fd/8 "/tmp/$3" || exit 1
  exec 8<&-
fi
export QT_QPA_PLATFORM=offscreen
timeout 60 "$1" > /dev/null 2>&1 &
server=$!
for _ in $(seq 100); do [ -d /tmp/sarvik_model_test ] && break; sleep 0.1; done
printf exit > /tmp/cmd.tmp && mv /tmp/cmd.tmp /tmp/sarvik_test.cmd
wait "$server" || echo "server-status-$?"
timeout 60 "$2" gen > /dev/null 2>&1 || echo "trainer-status-$?"
cd /tmp && ls -A
PRIVATE
  )
  ran=0
  for name in $left; do
    [ "$name" = sarvik.run ] && ran=$((ran + 1))
    [ "$name" = varnex.stop ] && ran=$((ran + 1))
    [ "$name" = "$tree_top" ] && continue
    case " ${exchange_file_paths[*]} " in
      *" /tmp/$name "*) ;;
      *) case $name in runtime-*) ;; *) check "the programs' /tmp/$name is kept" kept "not in the list" ;; esac ;;
    esac
  done
  # The server answered "exit" with its marker and the trainer made its stop file.
  check "the programs ran in a private /tmp" 2 "$ran"
else
  echo "SKIP: the names the programs make (needs root, unshare and the built programs)"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "all exchange-file cases passed ($case_number runs)"
