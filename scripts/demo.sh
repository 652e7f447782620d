#!/bin/sh
# Builds Tallo and runs its main job on an embedded demo database: installs
# what is missing, builds, creates the demo database (with db_version) and
# "Tallo-3.ini" beside the built tallo, writes sample scripts, then opens the
# window from the engine's folder or, without a display, runs the sample with
# tallo-run and prints the protocol. Safe to run again: the demo database and
# scripts are made anew each time.
#
# Environment: TALLO_DEMO_HEADLESS=1 runs headless even with a display;
# TALLO_DEMO_BUILD names the build folder (default build/release).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${TALLO_DEMO_BUILD:-$ROOT/build/release}
DEMO="$ROOT/demo"
SCRIPTS="$DEMO/scripts"
DB="$DEMO/tallo-demo.fdb"
JOBS=$(nproc 2>/dev/null || echo 2)

step() { printf '\n=== %s\n' "$*"; }
fail() { echo "demo: $*" >&2; exit 1; }

step "Packages"
"$ROOT/scripts/bootstrap.sh"

step "Build ($BUILD)"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLO_GUI=ON -DTALLO_TESTS=OFF \
    -DTALLO_BENCH=OFF -DTALLO_FUZZ=OFF >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target tallo tallo-run IBEScript
RUN="$BUILD/tallo-run"

# Embedded Firebird keeps its lock files in FIREBIRD_LOCK (default
# /tmp/firebird, writable for group firebird only). Pick the folder the engine
# would pick for this user, so isql-fb, tallo and tallo-run share it.
if [ -z "${FIREBIRD_LOCK:-}" ]; then
    if [ -d /tmp/firebird ] && [ -w /tmp/firebird ] && [ -x /tmp/firebird ]; then :
    elif [ ! -e /tmp/firebird ] && [ -w /tmp ]; then :
    else
        FIREBIRD_LOCK="/tmp/firebird-$(id -u)"
        mkdir -p -m 700 "$FIREBIRD_LOCK"
        [ -O "$FIREBIRD_LOCK" ] && [ ! -L "$FIREBIRD_LOCK" ] || fail "$FIREBIRD_LOCK belongs to another user"
        chmod 700 "$FIREBIRD_LOCK"
        export FIREBIRD_LOCK
    fi
fi

step "Demo database and scripts ($DEMO)"
rm -rf "$DEMO"
mkdir -p "$SCRIPTS"

# The empty database is made with Firebird's own isql; everything in it is
# then made by Tallo's engine.
printf "create database '%s' user SYSDBA default character set WIN1251;\nexit;\n" "$DB" |
    isql-fb -q -b || fail "isql-fb could not create $DB"

cat >"$BUILD/Tallo-3.ini" <<INI
[System]
SelectedDatabase=Demo
Database=$DB

[Databases]
Demo=$DB
INI

# Sample texts are written in UTF-8 here and stored in Windows-1251, as the
# operators' scripts are.
cp1251() { iconv -f UTF-8 -t CP1251 >"$1"; }

cp1251 "$SCRIPTS/setup.sql" <<'SQL'
-- Demo database: version table and a small customer list.
create table db_version (Version varchar(20) not null);
create table customers (
    id integer not null primary key,
    name varchar(60) not null,
    city varchar(40)
);
create exception demo_stop 'Demo stop';
commit;
insert into db_version values ('1.0.3');
commit;
SQL

cp1251 "$SCRIPTS/sample.sql" <<'SQL'
-- Sample script: new customers and a procedure that counts them.
insert into customers values (1, 'ООО «Ромашка»', 'Москва');
insert into customers values (2, 'ИП Петров', 'Санкт-Петербург');
insert into customers values (3, 'АО «Север»', 'Архангельск');

set term ^ ;
create or alter procedure customer_count returns (total integer)
as
begin
  select count(*) from customers into :total;
  suspend;
end^
set term ; ^
commit;

select * from customer_count;
update db_version set Version = '1.0.4';
commit;
SQL

cp1251 "$SCRIPTS/sample-packed.sql" <<'SQL'
-- Packed sample: two more customers and the next version.
insert into customers values (4, 'ЗАО «Восток»', 'Владивосток');
insert into customers values (5, 'ООО «Юг»', 'Краснодар');
select name, city from customers order by id;
update db_version set Version = '1.0.5';
commit;
SQL

cp1251 "$SCRIPTS/failing.sql" <<'SQL'
-- A script that stops with a message for the operator: customer 99 is not there.
execute block as
begin
  if (not exists(select 1 from customers where id = 99)) then
    exception demo_stop 'MSG:Клиент 99 не найден, скрипт не применён';
end;
SQL

"$RUN" pack "$SCRIPTS/sample-packed.sql" >/dev/null
mv "$SCRIPTS/sample-packed.Zql" "$SCRIPTS/sample-packed.zql"
rm "$SCRIPTS/sample-packed.sql"

# Tallo's engine builds the tables; its protocol stays with the setup script.
setup_status=0
TALLO_PASSWORD="" "$RUN" run --database Demo "$SCRIPTS/setup.sql" </dev/null >/dev/null 2>&1 || setup_status=$?
if [ "$setup_status" -ne 0 ]; then
    iconv -f CP1251 -t UTF-8 "$SCRIPTS/Result.txt" >&2 || true
    fail "the setup script failed (exit code $setup_status)"
fi
rm -f "$SCRIPTS/Result.txt"

echo "Demo database:  $DB"
echo "Settings:       $BUILD/Tallo-3.ini (alias Demo)"
echo "Sample scripts: $SCRIPTS: sample.sql, sample-packed.zql, failing.sql"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${TALLO_DEMO_HEADLESS:-}" ]; then
    step "Window"
    echo "Opening the window; pick a script with the ... button (Alt+Down), press \"Выполнить\"."
    echo "The user name and password are not checked by an embedded database."
    cd "$BUILD"
    exec ./tallo
fi

step "No display: the sample script with tallo-run"
cd "$BUILD"
rm -f DBVersion.out
status=0
TALLO_PASSWORD="" "$RUN" run --database Demo "$SCRIPTS/sample.sql" </dev/null || status=$?
echo
echo "Protocol ($SCRIPTS/Result.txt):"
iconv -f CP1251 -t UTF-8 "$SCRIPTS/Result.txt"
echo
printf 'Database version: '
TALLO_PASSWORD="" "$RUN" version --database Demo </dev/null || status=1

cat <<EOF

Try next (from $BUILD):
  ./tallo-run run -d Demo $SCRIPTS/sample-packed.zql    # packed: protocol in Result.Zxt
  ./tallo-run run -d Demo $SCRIPTS/failing.sql          # exit code 1 and its MSG: text
  ./tallo-run --help
EOF
if [ "$status" -eq 0 ]; then
    echo "Demo finished: the sample script ran without errors."
else
    echo "Demo finished with errors (exit code $status)."
fi
exit "$status"
