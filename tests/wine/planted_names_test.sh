#!/usr/bin/env bash
# Names planted in an output folder of the Windows build, run under Wine: a link of the host at
# one of halvic's own names (a temporary, a backup, the commit record's temporary, the commit
# record) or at a target. Wine shows such a link as a plain file and opens what it leads to, so
# that removing or renaming it would remove or move a file outside the folder: each must be left
# alone, a link at a target replaced by the new file, and the file it leads to left as it was.
#
# usage: planted_names_test.sh HALVIC_EXE WINEPREFIX
set -u -o pipefail

usage="usage: planted_names_test.sh HALVIC_EXE WINEPREFIX"
halvic=${1:?$usage}
export WINEPREFIX=${2:?$usage}
name=planted_names_test
. "$(dirname "$0")/checks.sh"
# The seven files of a folder, name and bytes, one a line.
set_of() { (cd "$1" && for f in qx*.qxd; do echo "$f $(sha1sum <"$f")"; done); }
# Whether `outside` still holds what it was given.
intact() { [ "$(cat outside)" = "not halvic's" ]; }

printf '<@>1<l>x<s>text one\n<@>2<s>text two\n' >old.txt
printf '<@>3<s>another text\n' >new.txt
mkdir old-set new-set
wine "$halvic" convert old.txt -o old-set && wine "$halvic" convert new.txt -o new-set ||
    { echo "planted_names_test: FAIL: the reference sets" >&2; exit 1; }

# Leftovers of a dead process: links at a temporary, a backup and a record's temporary.
echo "not halvic's" >outside
cp -r old-set out
links=(.qxase.qxd.tmp.99999.1 .qxm.qxd.old.99999.2 .halvic.commit.tmp.99999.3)
for name in "${links[@]}"; do ln -s "$work/outside" "out/$name"; done
wine "$halvic" dump out -r 1 >/dev/null 2>dump.err
check "a dump leaves the file the links lead to" intact
check "a dump leaves the set" [ "$(set_of out)" = "$(set_of old-set)" ]
wine "$halvic" convert new.txt -o out 2>convert.err
check "a conversion leaves the file the links lead to" intact
check "a conversion writes the new set" [ "$(set_of out)" = "$(set_of new-set)" ]
for name in "${links[@]}"; do check "the link $name stays" [ -L "out/$name" ]; done
rm -rf out

# A link at the commit record, to a record that names a planted backup of another set.
cp -r old-set out
cp new-set/qxase.qxd out/.qxase.qxd.old.99999.1
printf 'halvic commit record 1\nqxase.qxd .qxase.qxd.tmp.99999.2 .qxase.qxd.old.99999.1\n' \
    >record
ln -s "$work/record" out/.halvic.commit
wine "$halvic" dump out -r 1 >/dev/null 2>dump.err
check "a linked record is not acted on" [ "$(set_of out)" = "$(set_of old-set)" ]
check "a linked record is reported" grep -q 'halvic.commit: is not a file halvic wrote; ignored' dump.err
check "the record a link leads to stays" grep -q '^qxase.qxd' record
rm -rf out

# A record another user planted, naming planted backups of another set, or none ("-", which
# would remove the new files of a real commit): a dump refuses the set, which it cannot prove
# whole, and touches nothing; a conversion ignores it and writes its own set.
for backups in planted none; do
    cp -r old-set out
    printf 'halvic commit record 1\n' >out/.halvic.commit
    for name in qxase qxm qxa qxn qxi qxc qxs; do
        if [ $backups = planted ]; then
            cp "new-set/$name.qxd" "out/.$name.qxd.old.99999.1"
            chown nobody "out/.$name.qxd.old.99999.1"
            echo "$name.qxd .$name.qxd.tmp.99999.2 .$name.qxd.old.99999.1" >>out/.halvic.commit
        else
            echo "$name.qxd .$name.qxd.tmp.99999.2 -" >>out/.halvic.commit
        fi
    done
    chown nobody out/.halvic.commit
    wine "$halvic" dump out -r 1 >dump.out 2>dump.err
    status=$?
    check "a dump refuses a set with another user's record ($backups backups)" [ $status = 1 ]
    check "the refusal prints nothing ($backups backups)" [ ! -s dump.out ]
    check "the refusal names the record ($backups backups)" \
        grep -q 'only the user who owns .*halvic.commit may put the old files back' dump.err
    check "the planted record changes nothing ($backups backups)" \
        [ "$(set_of out)" = "$(set_of old-set)" ]
    wine "$halvic" convert new.txt -o out 2>convert.err
    check "a conversion writes its own set ($backups backups)" \
        [ "$(set_of out)" = "$(set_of new-set)" ]
    rm -rf out
done

# A link at a target: replaced by the new file; the file it leads to stays.
cp -r old-set out
rm out/qxn.qxd
ln -s "$work/outside" out/qxn.qxd
chmod 0666 outside
wine "$halvic" convert new.txt -o out 2>convert.err
check "the link at a target is replaced by the new file" [ ! -L out/qxn.qxd ]
check "the new set is in place" [ "$(set_of out)" = "$(set_of new-set)" ]
check "the file the link led to stays" intact

[ $failures = 0 ]
