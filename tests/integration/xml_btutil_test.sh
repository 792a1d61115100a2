#!/bin/bash
# btutil xml end to end: check (with and without a schema), tree and convert.
set -u
btutil=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
expect() {  # expect NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}

printf '<r k="v &amp; w"><a>one</a><b/></r>' > "$dir/doc.xml"
printf '<r><a>' > "$dir/broken.xml"
cat > "$dir/s.xsd" <<'XSD'
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="r"><xs:complexType><xs:sequence>
    <xs:element name="a" type="xs:string"/></xs:sequence></xs:complexType></xs:element>
</xs:schema>
XSD

out=$("$btutil" xml check "$dir/doc.xml"); expect "check ok" "OBJECT_ERROR_NONE/0" "$out/$?"
out=$("$btutil" xml check "$dir/broken.xml"); expect "check broken" "OBJECT_ERROR_LOAD_DOCUMENT/2" "$out/$?"
out=$("$btutil" xml check "$dir/doc.xml" --schema "$dir/s.xsd"); expect "check invalid" "OBJECT_ERROR_VALIDATE/2" "$out/$?"
out=$("$btutil" xml check "$dir/doc.xml" --schema "$dir/none.xsd" 2>/dev/null)
expect "check no schema" "OBJECT_ERROR_LOAD_SCHEMA/3" "$out/$?"
out=$("$btutil" xml check "$dir/none.xml" 2>/dev/null); expect "check no file" "OBJECT_ERROR_LOAD_DOCUMENT/3" "$out/$?"
"$btutil" xml check >/dev/null 2>&1; expect "usage" "2" "$?"

out=$("$btutil" xml tree "$dir/doc.xml")
expect "tree" 'r
  @k = "v & w"
  a
    text = "one"
  b' "$out"

"$btutil" xml convert "$dir/doc.xml" "$dir/out.xml" >/dev/null; expect "convert" "0" "$?"
expect "converted tree" "$("$btutil" xml tree "$dir/doc.xml")" "$("$btutil" xml tree "$dir/out.xml")"
"$btutil" xml convert "$dir/broken.xml" "$dir/out2.xml" 2>/dev/null; expect "convert broken" "2" "$?"
[ -e "$dir/out2.xml" ] && { echo "FAIL: a file was written for a broken input"; failures=$((failures + 1)); }

# An output that cannot be written: the system refused (exit 3), nothing claimed as saved.
for bad in "$dir/none/out.xml" "$dir"; do
  out=$("$btutil" xml convert "$dir/doc.xml" "$bad" 2>"$dir/err.txt"); code=$?
  expect "convert to $bad" "3/" "$code/$out"
  grep -q "^ERROR: .*could not be written" "$dir/err.txt" || { echo "FAIL: no error for $bad"; failures=$((failures + 1)); }
done

if [ "$failures" -ne 0 ]; then exit 1; fi
echo "btutil xml: all checks passed"
