#include "OstrelCore/Update/InstallScript.h"

namespace ostrel::InstallScript {

QByteArray text() {
    // `-T` keeps mv and cp from nesting the folder inside an existing one of the same name, and
    // `--` keeps a path from ever being read as an option.
    return QByteArrayLiteral(
        "#!/bin/sh\n"
        "pid=\"$1\"; new=\"$2\"; target=\"$3\"; trash=\"$4\"\n"
        "i=0\n"
        "while kill -0 \"$pid\" 2>/dev/null && [ \"$i\" -lt 100 ]; do sleep 0.1; i=$((i+1)); "
        "done\n"
        "case \"$target\" in /?*) ;; *) exit 1 ;; esac\n"
        "if [ \"$target\" = \"$HOME\" ] || [ \"$target\" = / ]; then exit 1; fi\n"
        "stage=$(dirname -- \"$new\")\n"
        "info=\"$(dirname -- \"$(dirname -- \"$trash\")\")/info/$(basename -- "
        "\"$trash\").trashinfo\"\n"
        "if [ -d \"$target\" ] && ! /bin/mv -T -- \"$target\" \"$trash\"; then /bin/rm -f -- "
        "\"$info\"; exit 1; fi\n"
        "if ! /bin/cp -a -T -- \"$new\" \"$target\"; then\n"
        "  if [ -d \"$trash\" ]; then /bin/rm -rf -- \"$target\"; /bin/mv -T -- \"$trash\" "
        "\"$target\" && /bin/rm -f -- \"$info\"; fi\n"
        "  /usr/bin/setsid -f \"$target/bin/ostrel\" </dev/null >/dev/null 2>&1\n"
        "  exit 1\n"
        "fi\n"
        "[ -d \"$trash\" ] || /bin/rm -f -- \"$info\"\n"
        "case \"$(basename -- \"$stage\")\" in staging-*) [ \"$(dirname -- \"$stage\")\" = "
        "\"$(dirname -- \"$0\")\" ] && /bin/rm -rf -- \"$stage\" ;; esac\n"
        "exec /usr/bin/setsid -f \"$target/bin/ostrel\" </dev/null >/dev/null 2>&1");
}

} // namespace ostrel::InstallScript
