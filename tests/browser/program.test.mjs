// Program mode: output, input, errors with their place and calls, the stack,
// the example files, Stop, the editor's colours; Step mode; links that carry
// a program, and the draft kept over a reload.
import { after, test } from 'node:test';
import assert from 'node:assert/strict';
import { example, open_playground, program_text, run, shown, step_shown, step_variables, stop, type_program } from './harness.mjs';

const { page, url, open, close } = await open_playground();
after(close);

// What a run shows when it has nothing else to show, and what an error adds.
const clean = { out: '', err: '', status: 'Finished in T.', stack: '(empty)', chain: [], marks: [] };
const failed = (error, at, more) => ({ ...clean, err: `${error}\n`, status: `Error ${at}: ${error}`, ...more });

test('a run shows its output, the lines accept reads, the stack, an error with its place and calls, and starts afresh', async () => {
  const code = 'accept parse-name .. number number + . cr\naccept parse-name .. cr\naccept number . cr';
  assert.deepEqual(await run(page, code, 'sum 2 3\nnext\n'), { ...clean, out: 'sum 5 \nnext \n0 \n' });
  assert.equal(await program_text(page), code, 'Ctrl-Enter runs instead of breaking the line');

  assert.deepEqual(await run(page, `1 2 + . cr\n7 8${'\n'.repeat(60)}  9 no"such\\ 10\n11 . cr`), failed('Domain error: unknown word - no"such\\',
    'on line 62, at no"such\\', { out: '3 \n', stack: '7 8 9 ', chain: ['at line 62: no"such\\'], marks: ['62', '  9 no"such\\ 10', 'no"such\\'] }));
  assert.ok(await page.$eval('#editor .cm-scroller', (box) => box.querySelector('.cm-error-line').getBoundingClientRect().bottom
    <= box.getBoundingClientRect().bottom), 'the line is scrolled into the editor\'s view');
  await page.keyboard.type('X');
  assert.deepEqual([(await program_text(page)).split('\n')[61], (await shown(page)).marks], ['  9 Xno"such\\ 10', []],
    'the cursor stands before the token, and editing clears the marks');

  const values = Array.from({ length: 100 }, (_, index) => 999900 + index).join(' ');
  for (const [code, want] of [
    [':twice 2 * ; 6 7', { stack: '6 7 ' }],
    ['3 twice', failed('Domain error: unknown word - twice', 'on line 1, at twice',
      { stack: '3 ', chain: ['at line 1: twice'], marks: ['1', '3 twice', 'twice'] })],
    // The page says "line 2" where the interpreter says "program:2".
    ['1 [ [ ]\n2 [ 3', { err: 'Warning: [ collected inside an open [ at line 1; the next ] ends the outer one\n',
      status: 'Finished in T. The program ends inside an open construct: it still waits for ], to close the [ opened on line 2.',
      stack: '1 2 ', marks: ['2', '2 [ 3', '['] }],
    ['1 . cr bye 2 . cr', { out: '1 \n', status: 'The program ended with bye.', stack: '(empty)' }],
    ['', {}],
    ['[ $i ] 1000000 times', { stack: `1000000 values, the top 100 of them:\n${values} ` }],
    ['( gcd.tv ) included ( nosuch.tv ) included', failed('Runtime error: can\'t open file', 'on line 1, at included', {
      out: await example('gcd.out'), chain: ['at line 1: included'], marks: ['1', '( gcd.tv ) included ( nosuch.tv ) included', 'included'] })],
    // An error in an included file is not marked in the editor.
    [':2dup ;\n( gcd.tv ) included', failed('Out of range: Stack underflow in -rot', 'in gcd.tv on line 11, at -rot', {
      out: 'gcd 1071 462 = 21 lcm 1071 462 = ', stack: '21 ',
      chain: ['at gcd.tv:11: -rot', 'from gcd.tv:16: lcm', 'from gcd.tv:18: show', 'from line 2: included'] })],
  ]) assert.deepEqual(await run(page, code), { ...clean, ...want }, code);
  assert.deepEqual(await page.$$eval('#chain button', (all) => all.map((button) => button.textContent)), ['from line 2: included'],
    'only places in the program are links');
  const { chain } = await run(page, ':f 1- dup { f } iftrue dup 0 = { nosuch } iftrue ; 20 f');
  assert.deepEqual([chain.length, ...chain.slice(-3)], [26, 'from line 1: iftrue', '… 16 more calls', 'from line 1: f']);

  // Closing words that close their own construct, and files included inside one another.
  for (const code of [':] ] ; [ 1 ]', ':} } ; { 1 }', ':) ) ; ( 1 )', ':*/ */ ; /* 1 */', ':swap ( gcd.tv ) included ;\n( gcd.tv ) included']) {
    const { err, status } = await run(page, code);
    assert.match(`${err}${status}`, /^(Runtime error: recursion too deep)\nError (in gcd\.tv )?on line \d+, at \S+: \1/, code);
  }
});

test('Stop, or Escape, ends an endless run within 2 s, and a runaway output is cut off', async () => {
  await type_program(page, '( before ) .. cr [ 1 drop ] 1000000000 times');
  await page.click('#run');
  await stop(page, '#stop');
  assert.deepEqual(await shown(page), { ...clean, out: 'before \n[stopped]\n', status: 'Stopped. The interpreter was restarted.', stack: '(empty)' });
  await type_program(page, '[ 12345 . ] 1000000000 times');
  await page.click('#run');
  await page.waitForFunction(() => document.getElementById('output').textContent.includes('[output cut off'));
  await stop(page, 'Escape');
  const { out } = await shown(page);
  assert.ok(out.length <= (1 << 20) + 100 && out.startsWith('12345 12345 ')
    && out.endsWith('\n[output cut off after its first million characters]\n[stopped]\n'), `${out.length}: ${out.slice(-100)}`);
});

test('Step mode goes back and forth through a run with the calls and the values each token changed; Step to here; Stop', async () => {
  const chain = ['at line 3: drop', 'from line 4: pop'];
  assert.deepEqual((await run(page, ':fact dup 1 > { dup 1- fact * } iftrue ;\n3 fact . cr\n:pop drop drop ;\n1 pop')).chain, chain);
  await page.click('#step-here');
  await page.waitForFunction(() => document.getElementById('step-status').textContent.endsWith('(at step 62)'));
  // Token by token, the tokens a definition collects too.
  await page.uncheck('#step-definitions');
  const seen = [];
  for (const keys of [[], ['Home'], Array(27).fill('ArrowRight'), ['#step-back'], ['#step-forward'], ['#step-end'], Array(9).fill('ArrowLeft')]) {
    for (const key of keys) await (key.startsWith('#') ? page.click(key) : page.keyboard.press(key));
    seen.push(await step_shown(page));
  }
  const inner_dup = ['Step 28 of 62', '6: dup', ['at line 1: dup', 'from line 1: fact', 'from line 1: iftrue', 'from line 2: fact'],
    ['3 2', '3 2 [2]'], ''];
  const failing = ['Step 62 of 62', '10: drop', chain, ['', ''], '6 \n'];
  assert.deepEqual(seen, [failing, ['Step 1 of 62', '0: :fact', ['at line 1: :fact'], ['', ''], ''], inner_dup,
    ['Step 27 of 62', '23: fact', ['at line 1: fact', 'from line 1: iftrue', 'from line 2: fact'], ['3 2', '3 2'], ''], inner_dup,
    failing, ['Step 53 of 62', '7: .', ['at line 2: .'], ['[6]', ''], '6 ']]);

  // A token met in an open construct is only stored into it; Step over (Down) passes a construct or a call, Step out (Up)
  // goes on in the caller.
  const moves = [];
  for (const keys of [['Home', 'ArrowRight'], ['ArrowDown'], ['ArrowDown', ...Array(6).fill('ArrowRight')], ['ArrowDown'],
    ['ArrowDown', ...Array(3).fill('ArrowRight'), '#step-over'], [...Array(24).fill('ArrowLeft'), '#step-out'], ['ArrowUp'], ['ArrowUp']]) {
    for (const key of keys) await (key.startsWith('#') ? page.click(key) : page.keyboard.press(key));
    const [position, token] = await step_shown(page);
    moves.push([position.replace(/ of 62$/, ''), token, ...await page.evaluate(() => [document.getElementById('step-doing').firstChild.textContent,
      document.getElementById('step-construct').hidden ? '' : document.getElementById('step-buffer').textContent])]);
  }
  const multiply = ['Step 52', '28: *', 'Running ', ''];
  const print = ['Step 53', '7: .', 'Running ', ''];
  assert.deepEqual(moves, [['Step 2', '6: dup', 'Collecting into :fact ', ':fact dup … ;'],
    ['Step 12', '39: ;', 'Running ', ':fact dup 1 > { dup 1- fact * } iftrue ;'], ['Step 19', '16: dup', 'Collecting into { ', '{ dup … }'],
    ['Step 23', '30: }', 'Running ', '{ dup 1- fact * }'], multiply, multiply, print, print]);
  // The calls in Program mode are links to their places.
  await page.click('#mode-program');
  await page.click('#chain li:first-child button');
  await page.keyboard.type('X');
  await page.click('#chain li:nth-child(2) button');
  await page.keyboard.type('Y');
  assert.deepEqual((await program_text(page)).split('\n').slice(2), [':pop drop Xdrop ;', '1 Ypop']);

  // Values as `.` prints them, marked by value where they print alike; a long construct's end cut inside a character.
  await type_program(page, `1e6 0 negate 1 3 / dup 1e-9 + 0 0 / [ ${'✓'.repeat(60)} ]`);
  await page.click('#mode-step');
  await page.waitForFunction(() => document.getElementById('step-status').textContent === 'Finished after 15 steps.');
  for (const key of Array(8).fill('ArrowRight')) await page.keyboard.press(key);
  const sum = (await step_shown(page))[3];
  await page.keyboard.press('End');
  assert.deepEqual([sum, (await step_shown(page))[3], await page.textContent('#step-buffer')], [
    ['1e+06 -0 0.333333 [0.333333] [1e-09]', '1e+06 -0 0.333333 [0.333333]'],
    ['1e+06 -0 0.333333 0.333333 -nan', '1e+06 -0 0.333333 0.333333 -nan'], `[ ... \ufffd${'✓'.repeat(53)} ]`]);

  // At the end, a construct left open is marked where it opened.
  await type_program(page, '1 [ 2');
  await page.click('#mode-step');
  await page.waitForFunction(() => /^Finished/.test(document.getElementById('step-status').textContent));
  await page.keyboard.press('End');
  assert.equal(await page.textContent('#step-editor .cm-error-token'), '[');

  await type_program(page, '[ $i . ] 1000000000 times');
  await page.click('#mode-step');
  await page.waitForFunction(() => /^Recording… [\d,]+ steps so far\.$/.test(document.getElementById('step-status').textContent));
  await stop(page, '#step-stop');
  const taken = Number((await page.textContent('#step-status')).match(/^Stopped after ([\d,]+) steps or more\.$/)[1].replace(/,/g, ''));
  const [first, last] = [taken - 9999, taken].map((number) => number.toLocaleString('en'));
  const [position, , calls, , output] = await step_shown(page);
  assert.deepEqual([position, calls.slice(1)],
    [`Step ${last} of ${last} (showing steps ${first}–${last} of ${last}: the earlier ones are not kept)`, ['from line 1: times']]);
  assert.match(output, /^0 1 2 3 (\d+ )+$/);
  await page.keyboard.press('Home');
  assert.match((await step_shown(page))[0], new RegExp(`^Step ${first} of`));
  await page.check('#step-definitions');
});

test('Step mode shows the variables before and after each step, its call depth, a definition as one step, and a token that failed with the stack it found', async () => {
  // What the step runs or collects, how deep, and the construct open.
  const doing = () => page.evaluate(() => [document.getElementById('step-doing').firstChild.textContent,
    document.querySelector('#step-doing .depth').textContent,
    document.getElementById('step-construct').hidden ? '' : document.getElementById('step-buffer').textContent]);
  const at = async (keys) => {
    for (const key of keys) await page.keyboard.press(key);
    const [position, token, , stack] = await step_shown(page);
    return [position, token, stack, ...await doing(), await step_variables(page)];
  };
  const definition = ':fact =n 1 =r [ $r $n * =r $n 1 - =n ] $n times $r ;';
  await type_program(page, `${definition}\n3 fact . cr\n7 +`);
  await page.click('#mode-step');
  await page.waitForFunction(() => document.getElementById('step-status').textContent.endsWith('(at step 64)'));
  assert.equal(await page.isChecked('#step-definitions'), true, 'definitions are stepped over at first');
  const inner = ['Step 43 of 64', '34: =n', ['[2]', ''], 'Running ', 'call depth 2', '', ['n 3 2 *', 'r 3 3', 'i 0 1 *']];
  assert.deepEqual([await at(['Home']), await at(['ArrowRight']), await at(['ArrowRight', 'ArrowRight']), await at(Array(3).fill('ArrowDown')),
    await at(Array(3).fill('ArrowDown')), await at(Array(8).fill('ArrowRight')), await at(['ArrowLeft']), await at(['ArrowUp'])], [
    ['Steps 1–18 of 64', '0: :fact', ['', ''], 'Defining :fact ', 'call depth 0', definition, ['(none)']],
    ['Step 19 of 64', '0: 3', ['', '[3]'], 'Running ', 'call depth 0', '', ['(none)']],
    ['Step 21 of 64', '6: =n', ['[3]', ''], 'Running ', 'call depth 1', '', ['n  3 *']],
    ['Step 24 of 64', '14: [', ['', ''], 'Running ', 'call depth 1', '', ['n 3 3', 'r 1 1']],
    ['Step 35 of 64', '42: times', ['[3]', ''], 'Running ', 'call depth 1', '', ['n 3 3', 'r 1 1', 'i  0 *']],
    inner,
    ['Step 42 of 64', '32: -', ['[3] [1]', '[2]'], 'Running ', 'call depth 2', '', ['n 3 3', 'r 3 3', 'i 0 0']],
    ['Step 60 of 64', '48: $r', ['', '[6]'], 'Running ', 'call depth 1', '', ['n 0 0', 'r 6 6', 'i 2 2']]]);

  // Token by token, and back: the step shown stays.
  await page.keyboard.press('Home');
  await page.uncheck('#step-definitions');
  assert.deepEqual([await at([]), await at(['ArrowRight'])], [
    ['Step 1 of 64', '0: :fact', ['', ''], 'Running ', 'call depth 0', '', ['(none)']],
    ['Step 2 of 64', '6: =n', ['', ''], 'Collecting into :fact ', 'call depth 0', ':fact =n … ;', ['(none)']]]);
  await page.check('#step-definitions');
  assert.equal((await at([]))[0], 'Steps 1–18 of 64');

  // The token that failed shows the stack it found, nothing marked as taken: what it took before it failed is not shown.
  const failed = ['Step 64 of 64', '2: +', ['7', ''], 'Running ', 'call depth 0', '', ['n 0 ', 'r 6 ', 'i 2 ']];
  assert.deepEqual(await at(['End']), failed);
  assert.equal(await page.textContent('#step-stack .stack-row:last-child .note'), 'it failed');
  await page.click('#mode-program');
  await page.click('#run');
  await page.waitForSelector('body[data-running="false"]');
  await page.click('#step-here');
  await page.waitForFunction(() => document.getElementById('step-position').textContent === 'Step 64 of 64');
  assert.deepEqual(await at([]), failed);

  // Of many variables, the first 64 made are shown; a definition left open is one step to the end.
  const many = Array.from({ length: 70 }, (_, index) => `${index} =v${String(index).padStart(2, '0')}`).join(' ');
  await type_program(page, `${many}\n:f 1 2`);
  await page.click('#mode-step');
  await page.waitForFunction(() => /^Finished/.test(document.getElementById('step-status').textContent));
  const end = await at(['End']);
  assert.deepEqual([end[0], end[1], end[6].length, end[6].slice(-2)], ['Steps 141–143 of 143', '0: :f', 65, ['v63 63 63', '6 more made, not shown']]);
});

test('the editor colours tokens as the grammar of editors/ does, and every word the interpreter lists', async () => {
  await type_program(page, ':sq dup * ; \\ squares\n( two\nlines ) .. 0x1F =n $n [ 1 ] iftrue /* a\nb */ \'sq -5 nan');
  // Read as runs of a colour: a whole token underlined by the server, for the text it had before the typing ended, is
  // split from the rest of its run by the underline's element.
  const coloured = () => page.$$eval('#editor .cm-line', (lines) => lines.flatMap((line) => {
    const runs = [];
    let last = null;
    const walker = document.createTreeWalker(line, NodeFilter.SHOW_TEXT);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      const kind = node.parentElement.closest('.cm-effect-hint') ? null : node.parentElement.closest('[class^="tm-"]')?.className ?? null;
      if (kind && kind === last) runs[runs.length - 1] += node.textContent;
      else if (kind) runs.push(`${kind}:${node.textContent}`);
      last = kind;
    }
    return runs;
  }));
  assert.deepEqual(await coloured(), [
    'tm-keyword::', 'tm-entity:sq', 'tm-support:dup', 'tm-keyword:*', 'tm-keyword:;', 'tm-comment:\\ squares', 'tm-string:( two',
    'tm-string:lines )', 'tm-support:..', 'tm-constant:0x1F', 'tm-keyword:=', 'tm-variable:n', 'tm-keyword:$', 'tm-variable:n',
    'tm-punctuation:[', 'tm-constant:1', 'tm-punctuation:]', 'tm-keyword:iftrue', 'tm-comment:/* a', 'tm-comment:b */', "tm-keyword:'",
    'tm-entity:sq', 'tm-keyword:-', 'tm-variable:5', 'tm-constant:nan']);

  // The partner of the construct at the cursor, by the rules of the interpreter: a construct collects every token but
  // its closing word, which a quotation, block or definition reads again when it runs; a backslash ends its line; the
  // `[` of a string matches nothing.
  await type_program(page, ':sq dup [ 1 ] drop ;\n[ 1 [ 2 ] ]\n( [ ) { 1 }\n{ 2 \\ }\n}');
  const matched = [];
  for (const keys of [['Control+Home', 'End'], ['ArrowDown', 'End'], ['ArrowDown', 'End'], ['ArrowDown', 'ArrowDown', 'End'],
    ['ArrowUp', 'ArrowUp', 'Home', ...Array(3).fill('ArrowRight')]]) {
    for (const key of keys) await page.keyboard.press(key);
    matched.push(await page.$$eval('#editor .cm-bracket-match, #editor .cm-bracket-unmatched', (all) => all.map((mark) =>
      `${[...mark.closest('.cm-content').children].indexOf(mark.closest('.cm-line')) + 1}:${mark.className.includes('unmatched') ? '!' : ''}`
      + mark.textContent)));
  }
  assert.deepEqual(matched, [['1::sq', '1:;'], ['2:!]'], ['3:{', '3:}'], ['4:{', '5:}'], []]);
  assert.deepEqual(await page.$$eval('#editor .cm-line:first-child .cm-bracket-level-1', (all) => all.map((mark) => mark.textContent)), ['[', ']'],
    'a construct inside a definition is one level deeper');

  // Less those that open and close comments and strings, coloured as such above.
  const words = (await run(page, 'words aliases')).out.split(/\s+/).filter((word) => word && !['\\', '/*', '*/', '(', ')'].includes(word));
  assert.ok(words.includes('parse-name') && words.length > 40, words.join(' '));
  await type_program(page, words.join('\n'));
  assert.deepEqual(await page.$$eval('#editor .cm-line', (lines) => lines
    .filter((line) => !line.querySelector('span[class^="tm-"]')).map((line) => line.textContent)), []);
});

test('links carry a program as base64url UTF-8 with its input, &run runs it; the draft, its input and mode outlive reloads', async () => {
  const code = '\\ grüße ✓\n( Ünïcödé: ✓ ) .. cr\naccept parse-name .. 6 7 * . cr';
  const input = 'fourty-two\n';
  // The program, its input, the mode and the output.
  const held = async (tab) => {
    await tab.waitForSelector('body[data-ready="true"]');
    return Promise.all([program_text(tab), tab.inputValue('#input'), tab.getAttribute('[aria-pressed="true"]', 'id'), tab.textContent('#output')]);
  };
  await type_program(page, code);
  await page.fill('#input', input);
  await page.click('#share');
  await page.waitForFunction(() => document.getElementById('share').textContent === 'Copied');
  const link = await page.inputValue('#link');
  assert.equal(await page.evaluate(() => navigator.clipboard.readText()), link);
  assert.equal(new URL(link).hash, `#code=${Buffer.from(code).toString('base64url')}&input=${Buffer.from(input).toString('base64url')}`);

  // Edited, the program is no longer the link's.
  await type_program(page, 'my draft');
  await page.fill('#input', 'its input');
  await page.click('#mode-console');
  await page.reload();
  assert.deepEqual(await held(page), ['my draft', 'its input', 'mode-console', '']);
  await page.goto(`${url}docs.html#tutorial.md`);
  await page.goBack();
  assert.deepEqual(await held(page), ['my draft', 'its input', 'mode-console', '']);

  // A link's program waits to be run, and the draft stays for a visit without a link.
  const other = await open(link);
  assert.deepEqual(await held(other), [code, input, 'mode-program', '']);
  await other.goto(url);
  assert.deepEqual(await held(other), ['my draft', 'its input', 'mode-program', '']);
  await other.goBack();
  assert.deepEqual(await held(other), [code, input, 'mode-program', '']);
  await type_program(other, 'edited');
  await other.reload();
  assert.deepEqual(await held(other), ['edited', input, 'mode-program', '']);

  await other.goto(`${link}&run`);
  await other.waitForFunction(() => document.getElementById('status').textContent.startsWith('Finished'));
  assert.deepEqual(await held(other), [code, input, 'mode-program', 'Ünïcödé: ✓ \nfourty-two 42 \n']);
  await other.goto(`${url}#code=%%%`);
  await other.waitForFunction(() => !document.getElementById('status').textContent.startsWith('Finished'));
  assert.equal(await other.textContent('#status'), 'This link does not carry a readable program.');
});
