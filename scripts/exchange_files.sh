# Keeping the machine's exchange files under /tmp as a script found them.
# Sourced by bash scripts that drive the programs through those files:
#
#   exchange_files_save FOLDER PATH...   moves each PATH that exists into
#                                        FOLDER (a new folder) and notes which
#                                        were absent
#   exchange_files_restore               removes whatever now stands at each
#                                        PATH and moves the saved one back;
#                                        a PATH that was absent stays absent
#
# A path is saved as whatever stands there: a file, a link (as the link, never
# what it points at), a folder with its contents, a FIFO. Nothing is read or
# followed, and moving leaves the script a clean slate, as a fresh machine has.
# Call exchange_files_restore from an EXIT trap, after the programs that write
# the files have ended; it runs once and carries on past a path it cannot put
# back (its status is then 1). Hold the machine-wide exchange-file lock around
# both calls, so no other user of the files comes in between.

# What the trainer and the server read and write under /tmp when a script
# drives them as the demo does (with the folders and images named in the
# commands), the default model folder the server makes at start, and the
# names the demo writes first and then moves into place.
exchange_file_paths=(
  /tmp/varnex.json /tmp/varnex.json.demo /tmp/varnex.log /tmp/varnex.stop /tmp/varnex_gen
  /tmp/sarvik_test.cmd /tmp/sarvik_test.cmd.demo /tmp/sarvik.run /tmp/sarvik.log /tmp/sarvik_result.png
  /tmp/sarvik_model_test
)

exchange_files_folder=""
exchange_files_paths=()
exchange_files_present=()

exchange_files_save() {
  local folder=$1 i=0 path
  shift
  mkdir -- "$folder" || return 1
  exchange_files_folder=$folder
  exchange_files_paths=()
  exchange_files_present=()
  for path in "$@"; do
    if [ -e "$path" ] || [ -L "$path" ]; then
      # A path that cannot be moved is not noted, so a restore leaves it be.
      mv -T -- "$path" "$folder/$i" || return 1
      exchange_files_present+=(1)
    else
      exchange_files_present+=(0)
    fi
    exchange_files_paths+=("$path")
    i=$((i + 1))
  done
}

exchange_files_restore() {
  local status=0 i path
  [ -n "$exchange_files_folder" ] || return 0
  for i in "${!exchange_files_paths[@]}"; do
    path=${exchange_files_paths[$i]}
    if [ -e "$path" ] || [ -L "$path" ]; then
      rm -rf -- "$path" || status=1
    fi
    if [ "${exchange_files_present[$i]}" = 1 ]; then
      mv -T -- "$exchange_files_folder/$i" "$path" || status=1
    fi
  done
  [ "$status" -ne 0 ] || rm -rf -- "$exchange_files_folder"
  exchange_files_folder=""
  return "$status"
}
