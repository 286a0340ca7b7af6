# Sourced by the tests that read a Windows Installer package's tables (msitools): the
# package checks and the Windows stage's installer test.
#   msi_table MSI TABLE        the table's rows, tab-separated, without its three header lines
#   msi_property MSI NAME      the value of NAME in the Property table
msi_table() { msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r'; }
msi_property() { msi_table "$1" Property | awk -F '\t' -v name="$2" '$1 == name { print $2 }'; }
