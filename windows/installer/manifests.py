#!/usr/bin/python3
"""Writes the package managers' manifests of a release of the Windows edition, run by
tools/release.sh once the zip and the MSI are in their final form: for the Windows Package Manager
the three files of the multi-file form (version, installer, default locale), which offer the MSI
and the zip as a portable install, and for Scoop a manifest of the zip. Each names its file at the
download URL with the file's SHA-256; the MSI's product code comes from the package itself.

Usage: manifests.py VERSION RELEASE_DATE DOWNLOAD_URL MSI ZIP OUT_DIR
"""
import hashlib
import json
import os
import subprocess
import sys

IDENTIFIER = "Quillmere.Quillmere"
MANIFEST_VERSION = "1.10.0"
PUBLISHER = "The Quillmere developers"
HOMEPAGE = "https://quillmere.org/"
SUMMARY = "Downloads one file at a time over HTTPS to a place you choose."


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def msi_property(msi, name):
    table = subprocess.run(["msiinfo", "export", msi, "Property"], check=True,
                           capture_output=True, text=True).stdout
    return next(line.split("\t")[1] for line in table.splitlines() if line.startswith(name + "\t"))


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def main(version, release_date, download_url, msi, zip_file, out_dir):
    url = download_url.rstrip("/") + "/"
    head = f"PackageIdentifier: {IDENTIFIER}\nPackageVersion: {version}\n"
    tail = f"ManifestVersion: {MANIFEST_VERSION}\n"

    def schema(kind):  # the line that editors and winget's own tools read the schema from
        return ("# yaml-language-server: $schema=https://aka.ms/"
                f"winget-manifest.{kind}.{MANIFEST_VERSION}.schema.json\n")

    write(os.path.join(out_dir, f"{IDENTIFIER}.yaml"),
          schema("version") + head + "DefaultLocale: en-US\nManifestType: version\n" + tail)
    # Quoted: YAML would read the date as a date and a product code's braces as a mapping.
    write(os.path.join(out_dir, f"{IDENTIFIER}.installer.yaml"),
          schema("installer") + head + f"""ReleaseDate: '{release_date}'
Installers:
- Architecture: x64
  InstallerType: msi
  Scope: user
  InstallerUrl: {url}{os.path.basename(msi)}
  InstallerSha256: {sha256(msi).upper()}
  ProductCode: '{msi_property(msi, "ProductCode")}'
  UpgradeBehavior: install
  AppsAndFeaturesEntries:
  - UpgradeCode: '{msi_property(msi, "UpgradeCode")}'
- Architecture: x64
  InstallerType: zip
  NestedInstallerType: portable
  NestedInstallerFiles:
  - RelativeFilePath: quillmere.exe
    PortableCommandAlias: quillmere
  Scope: user
  InstallerUrl: {url}{os.path.basename(zip_file)}
  InstallerSha256: {sha256(zip_file).upper()}
ManifestType: installer
""" + tail)
    write(os.path.join(out_dir, f"{IDENTIFIER}.locale.en-US.yaml"),
          schema("defaultLocale") + head + f"""PackageLocale: en-US
Publisher: {PUBLISHER}
PackageName: Quillmere
PackageUrl: {HOMEPAGE}
License: MIT
ShortDescription: {SUMMARY}
Tags:
- download
- https
ManifestType: defaultLocale
""" + tail)
    scoop = {
        "version": version,
        "description": SUMMARY,
        "homepage": HOMEPAGE,
        "license": "MIT",
        "architecture": {"64bit": {"url": url + os.path.basename(zip_file),
                                   "hash": sha256(zip_file)}},
        "bin": "quillmere.exe",
        "shortcuts": [["quillmere.exe", "Quillmere"]],
    }
    write(os.path.join(out_dir, "quillmere.json"), json.dumps(scoop, indent=4) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 7:
        sys.exit(__doc__.strip().splitlines()[-1])
    main(*sys.argv[1:])
