#!/usr/bin/python3
"""The reference for the country lookup tests: Debian's python3-maxminddb over the same file.

Usage: lookup-countries.py DATABASE ADDRESSES
Prints "<database_type> <build_epoch>", then for every line of ADDRESSES the record's country
code (`country_code` or `country.iso_code`, two letters, upper-cased) or "-" when there is none. An IPv4 address mapped
into IPv6 is looked up as the IPv4 address.
"""
import ipaddress
import sys

import maxminddb


def code_of(record):
    if not isinstance(record, dict):
        return None
    code = record.get('country_code')
    if code is None and isinstance(record.get('country'), dict):
        code = record['country'].get('iso_code')
    if isinstance(code, str) and len(code) == 2 and code.isascii() and code.isalpha():
        return code.upper()
    return None


def main():
    database, addresses = sys.argv[1], sys.argv[2]
    with maxminddb.open_database(database) as reader:
        meta = reader.metadata()
        print(f'{meta.database_type} {meta.build_epoch}')
        for line in open(addresses, encoding='ascii'):
            address = ipaddress.ip_address(line.strip())
            if address.version == 6 and address.ipv4_mapped is not None:
                address = address.ipv4_mapped
            try:
                code = code_of(reader.get(address))
            except ValueError:  # an IPv6 address in an IPv4 database
                code = None
            print(code or '-')


if __name__ == '__main__':
    main()
