// Writes the words the editors' TextMate grammar lists, grouped by the first
// part of their scope: node words.mjs GRAMMAR OUTPUT. The playground's editor
// colours these, so it knows the words the other editors know.
import { readFileSync, writeFileSync } from 'node:fs';

const [grammar_path, output_path] = process.argv.slice(2);
const grammar = JSON.parse(readFileSync(grammar_path, 'utf8'));
const alternatives = /^\(\?:\^\|\(\?<=\\s\)\)\(\?:(.*)\)\(\?=\\s\|\$\)$/;
const words = {};
for (const { name, match } of grammar.repository.words.patterns) {
  const found = alternatives.exec(match);
  if (!found) throw new Error(`${grammar_path}: a word pattern of an unexpected form: ${match}`);
  const kind = name.split('.')[0];
  words[kind] = [...(words[kind] ?? []), ...found[1].split('|').map((word) => word.replace(/\\(.)/g, '$1'))];
}
writeFileSync(output_path, `${JSON.stringify(words, null, 2)}\n`);
