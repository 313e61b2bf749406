#!/usr/bin/env bash
# Packages the VS Code extension as a user would (package-vscode.sh
# SOURCE_DIR BUILD_DIR SERVER), checks that the .vsix holds the bundle and
# what VS Code reads beside it, and no npm package or source, then loads the
# bundle from the .vsix with a stand-in for VS Code (vscode-extension.js)
# against the server SERVER.
set -euo pipefail
bash "$1/editors/vscode/package.sh" "$1" "$2"
vsix=$2/vscode-extension/tolva.vsix
files=$(unzip -Z1 "$vsix" | sed -n 's,^extension/,,p' | sort)
wanted=$(printf '%s\n' LICENSE.txt dist/extension.js language-configuration.json package.json readme.md \
    tolva.tmLanguage.json | sort)
[[ $files == "$wanted" ]] || { printf 'FAIL: tolva.vsix holds, beside its manifest:\n%s\n' "$files"; exit 1; }
# The program to start is the machine's to choose: a workspace's settings,
# which come with a folder opened, cannot name one.
scope=$(unzip -p "$vsix" extension/package.json |
    node -e 'let s = ""; process.stdin.on("data", d => s += d).on("end", () =>
        console.log(JSON.parse(s).contributes.configuration.properties["tolva.server.path"].scope))')
[[ $scope == machine ]] || { echo "FAIL: tolva.server.path has the scope '$scope', not machine"; exit 1; }
# A folder with no node_modules on the way up: the bundle must hold its client.
bundle=$(mktemp -d)
trap 'rm -rf "$bundle"' EXIT
unzip -q "$vsix" extension/dist/extension.js -d "$bundle"
node "$(dirname "$0")/vscode-extension.js" "$bundle/extension/dist/extension.js" "$3"
echo "tolva.vsix: $(wc -l <<<"$files") files, $(stat -c %s "$vsix") bytes"
