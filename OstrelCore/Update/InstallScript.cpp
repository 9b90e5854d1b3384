#include "OstrelCore/Update/InstallScript.h"

namespace ostrel::InstallScript {

QByteArray text() {
    // `-T` keeps mv and cp from nesting the folder inside an existing one of the same name, and
    // `--` keeps a path from ever being read as an option. stat without -L names a link itself,
    // so a link put at the folder's path is not the folder that was checked. A failed step leaves
    // its reason beside the script too (UpdateInstaller::failureNotePath()): the copy it starts
    // again tells the user, who never sees the log.
    return QByteArrayLiteral(
        "#!/bin/sh\n"
        "pid=\"$1\"; new=\"$2\"; target=\"$3\"; trash=\"$4\"; checked=\"$5\"\n"
        "i=0\n"
        "while kill -0 \"$pid\" 2>/dev/null && [ \"$i\" -lt 100 ]; do sleep 0.1; i=$((i+1)); "
        "done\n"
        "say() { echo \"app.ostrel.update: $*\" >&2; }\n"
        "failed() {\n"
        "  say \"$1\"\n"
        "  note=\"$(dirname -- \"$0\")/install-failed.txt\"\n"
        "  part=$(/bin/mktemp -- \"$note.XXXXXX\") || return\n"
        "  printf '%s\\n' \"$1\" >\"$part\" && /bin/mv -f -T -- \"$part\" \"$note\" || /bin/rm -f "
        "-- "
        "\"$part\"\n"
        "}\n"
        "start() {\n"
        "  i=0\n"
        "  while kill -0 \"$pid\" 2>/dev/null && [ \"$i\" -lt 600 ]; do sleep 0.1; i=$((i+1)); "
        "done\n"
        "  /usr/bin/setsid -f \"$1/bin/ostrel\" </dev/null >/dev/null\n"
        "}\n"
        "case \"$target\" in /?*) ;; *) say \"no install folder to replace\"; exit 1 ;; esac\n"
        "if [ \"$target\" = \"$HOME\" ] || [ \"$target\" = / ]; then\n"
        "  failed \"$target is not Ostrel's alone; the update wasn't installed\"; start "
        "\"$target\"; "
        "exit 1\n"
        "fi\n"
        "stage=$(dirname -- \"$new\")\n"
        "info=\"$(dirname -- \"$(dirname -- \"$trash\")\")/info/$(basename -- "
        "\"$trash\").trashinfo\"\n"
        "if [ -e \"$target\" ] || [ -L \"$target\" ]; then\n"
        "  if [ \"$(/usr/bin/stat -c %d:%i -- \"$target\")\" != \"$checked\" ]; then\n"
        "    /bin/rm -f -- \"$info\"\n"
        "    say \"$target is no longer the folder that was checked; the update wasn't "
        "installed\"\n"
        "    exit 1\n"
        "  fi\n"
        "  if ! /bin/mv -T -- \"$target\" \"$trash\"; then\n"
        "    /bin/rm -f -- \"$info\"\n"
        "    failed \"the old copy couldn't be moved to the Trash; the update wasn't installed\"\n"
        "    start \"$target\"; exit 1\n"
        "  fi\n"
        "fi\n"
        "if ! /bin/cp -a -T -- \"$new\" \"$target\"; then\n"
        "  why=\"the new copy couldn't be put in place\"\n"
        "  if [ -d \"$trash\" ]; then\n"
        "    /bin/rm -rf -- \"$target\"\n"
        "    if /bin/mv -T -- \"$trash\" \"$target\"; then\n"
        "      /bin/rm -f -- \"$info\"; why=\"$why; the old copy was put back\"\n"
        "    else why=\"$why; the old copy stays in the Trash, at $trash\"; target=\"$trash\"; "
        "fi\n"
        "  fi\n"
        "  failed \"$why\"; start \"$target\"; exit 1\n"
        "fi\n"
        "[ -d \"$trash\" ] || /bin/rm -f -- \"$info\"\n"
        "case \"$(basename -- \"$stage\")\" in staging-*) [ \"$(dirname -- \"$stage\")\" = "
        "\"$(dirname -- \"$0\")\" ] && /bin/rm -rf -- \"$stage\" ;; esac\n"
        "start \"$target\"");
}

} // namespace ostrel::InstallScript
