#!/usr/bin/env bash
# Packages the VS Code extension as a user would (editors/vscode/package.sh
# SOURCE_DIR BUILD_DIR) and checks that the .vsix holds the extension, its
# grammar and its language client, and not the packager.
set -euo pipefail
bash "$1/editors/vscode/package.sh" "$1" "$2"
listing=$(unzip -l "$2/vscode-extension/tolva.vsix")
for file in extension.js package.json tolva.tmLanguage.json language-configuration.json \
    node_modules/vscode-languageclient/package.json; do
    grep -q " extension/$file\$" <<<"$listing" || { echo "FAIL: tolva.vsix has no extension/$file"; exit 1; }
done
grep ' extension/node_modules/@vscode/vsce/' <<<"$listing" && { echo "FAIL: the packager is in tolva.vsix"; exit 1; }
# The program to start is the machine's to choose: a workspace's settings,
# which come with a folder opened, cannot name one.
scope=$(unzip -p "$2/vscode-extension/tolva.vsix" extension/package.json |
    node -e 'let s = ""; process.stdin.on("data", d => s += d).on("end", () =>
        console.log(JSON.parse(s).contributes.configuration.properties["tolva.server.path"].scope))')
[[ $scope == machine ]] || { echo "FAIL: tolva.server.path has the scope '$scope', not machine"; exit 1; }
echo "tolva.vsix: $(grep -c ' extension/' <<<"$listing") files"
