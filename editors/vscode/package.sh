#!/usr/bin/env bash
# Packages the VS Code extension: package.sh SOURCE_DIR BUILD_DIR writes
# BUILD_DIR/vscode-extension/tolva.vsix. The grammar has one home,
# editors/textmate, and the packager takes only files inside the extension's
# folder, so the extension is staged in the build folder with the grammar and
# the copyright beside it; its npm packages and the bundle go there too,
# never into the source tree.
set -euo pipefail
source=$1 stage=$2/vscode-extension
rm -rf "$stage"
mkdir -p "$2"
cp -r "$source/editors/vscode" "$stage"
rm "$stage/package.sh"
cp "$source/editors/textmate/tolva.tmLanguage.json" "$stage"
cp "$source/packaging/copyright" "$stage/LICENSE"
cd "$stage"
# No install scripts: the only ones are the packager's signing and keychain
# helpers, which may fetch binaries and which packaging does not use.
npm ci --no-audit --no-fund --ignore-scripts
# One file for the extension and its language client; vscode is the editor's.
npx --no-install esbuild extension.js --bundle --platform=node --target=node18 --format=cjs \
    --minify --external:vscode --outfile=dist/extension.js --log-level=warning
npx --no-install vsce package --no-dependencies --allow-missing-repository --out tolva.vsix
