#!/bin/sh
# Builds Tallo and runs its main job on an embedded demo database: installs
# what is missing, builds, creates the demo database and "Tallo-3.ini" beside
# the built tallo, writes sample scripts, then opens the window (from the
# engine's folder) or, without a display, runs the sample with tallo-run and
# prints the protocol. Safe to run again: the demo is rebuilt from scratch.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build/release"
DEMO="$ROOT/demo"
JOBS=$(nproc 2>/dev/null || echo 2)

"$ROOT/scripts/bootstrap.sh"

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLO_TESTS=OFF -DTALLO_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target tallo tallo-run IBEScript

# Sample texts are written in UTF-8 here and stored in Windows-1251, as the
# operators' scripts are.
cp1251() { iconv -f UTF-8 -t CP1251 >"$1"; }

rm -rf "$DEMO"
mkdir -p "$DEMO/scripts"
DB="$DEMO/tallo-demo.fdb"

# The empty database is made with Firebird's own isql; everything in it is
# then made by Tallo's engine.
printf "create database '%s' user SYSDBA default character set WIN1251;\nexit;\n" "$DB" | isql-fb -q >/dev/null

cat >"$BUILD/Tallo-3.ini" <<INI
[System]
SelectedDatabase=Demo
Database=$DB

[Databases]
Demo=$DB
INI

cp1251 "$DEMO/scripts/setup.sql" <<'SQL'
-- Demo database: version table and a small catalogue.
create table db_version (Version varchar(20) not null);
insert into db_version values ('1.0.3');

create table customers (
    id integer not null primary key,
    name varchar(60) character set WIN1251 not null,
    city varchar(40) character set WIN1251
);

create exception demo_stop 'Demo stop';
commit;
SQL

cp1251 "$DEMO/scripts/sample.sql" <<'SQL'
-- Sample script: new customers and a procedure that counts them.
insert into customers values (1, 'ООО «Ромашка»', 'Москва');
insert into customers values (2, 'ИП Петров', 'Санкт-Петербург');
insert into customers values (3, 'АО «Север»', 'Архангельск');

create or alter procedure customer_count returns (total integer)
as
begin
  select count(*) from customers into :total;
  suspend;
end;

select * from customer_count;
update db_version set Version = '1.0.4';
SQL

cp1251 "$DEMO/scripts/failing.sql" <<'SQL'
-- A script that stops itself with a message for the operator.
insert into customers values (10, 'Тестовый клиент', 'Тверь');
execute block as
begin
  if (exists(select 1 from customers where id = 10)) then
    exception demo_stop 'MSG:Клиент 10 уже заведён, скрипт не нужен';
end;
SQL

cp "$DEMO/scripts/sample.sql" "$DEMO/scripts/sample-packed.sql"
"$BUILD/tallo-run" pack "$DEMO/scripts/sample-packed.sql" >/dev/null
mv "$DEMO/scripts/sample-packed.Zql" "$DEMO/scripts/sample-packed.zql"
rm "$DEMO/scripts/sample-packed.sql"

cd "$BUILD"
"$BUILD/tallo-run" run --database Demo "$DEMO/scripts/setup.sql" </dev/null >/dev/null

echo "Demo database:   $DB"
echo "Settings:        $BUILD/Tallo-3.ini"
echo "Sample scripts:  $DEMO/scripts (sample.sql, sample-packed.zql, failing.sql)"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${TALLO_DEMO_HEADLESS:-}" ]; then
    echo "Opening the window; pick a script with the ... button and press the run button."
    exec "$BUILD/tallo"
fi

echo "No display: running the sample script with tallo-run."
status=0
"$BUILD/tallo-run" run --database Demo "$DEMO/scripts/sample.sql" </dev/null || status=$?
echo
echo "Protocol ($DEMO/scripts/Result.txt):"
iconv -f CP1251 -t UTF-8 "$DEMO/scripts/Result.txt"
exit "$status"
