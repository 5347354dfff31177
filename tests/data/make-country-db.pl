#!/usr/bin/perl
# Writes a small country database in the MaxMind DB format for the country lookup tests.
# Usage: make-country-db.pl OUTPUT SHAPE IP_VERSION
#   SHAPE: "code" (records {country_code => "DE"}), "iso" (records
#   {country => {iso_code => "DE", names => {...}}}) or "none" (no country in any record).
use strict;
use warnings;
use MaxMind::DB::Writer::Tree;

my ($output, $shape, $ip_version) = @ARGV;
die "usage: $0 OUTPUT code|iso|none 4|6\n" unless defined $ip_version;

my %types = (country_code => 'utf8_string', country => 'map', iso_code => 'utf8_string',
             names => 'map', en => 'utf8_string', continent => 'utf8_string',
             autonomous_system_number => 'uint32');
my $tree = MaxMind::DB::Writer::Tree->new(
  ip_version => $ip_version, record_size => 24, database_type => "Test-Country-$shape",
  languages => ['en'], description => {en => 'Hitsieve test countries'},
  map_key_type_callback => sub { $types{$_[0]} },
  remove_reserved_networks => 0,
);

sub record {
  my ($code) = @_;
  return {autonomous_system_number => 64500} if $shape eq 'none';
  return {country_code => $code} if $shape eq 'code';
  return {country => {iso_code => $code, names => {en => "Land $code"}}};
}

my @networks = (
  ['1.2.3.0/24', 'DE'],
  ['5.6.0.0/16', 'fr'],        # lower case in the file
  ['10.0.0.0/8', 'XYZ'],       # not a two-letter code
  ['11.0.0.0/8', "D\x{0}"],    # a control byte in the code
  ['200.1.0.0/16', 'BR'],
);
my @networks6 = (
  ['2001:db8::/32', 'JP'],
  ['2001:db8:1::/48', 'CA'],   # more specific than the /32 around it
  ['2a00:1450::/32', 'IE'],
);
$tree->insert_network($_->[0], record($_->[1])) for @networks;
$tree->insert_network('9.9.9.0/24', {continent => 'EU'}) unless $shape eq 'none';
if ($ip_version == 6) {
  $tree->insert_network($_->[0], record($_->[1])) for @networks6;
}
open my $fh, '>:raw', $output or die "$output: $!\n";
$tree->write_tree($fh);
close $fh or die "$output: $!\n";
