// The small words and lists of the details panel and the forms.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { childCount, rowsFor } from '../../web/details.js';
import { nodeList } from '../../web/forms.js';

test('a list of nodes, blanks and empty entries dropped', () => {
  const cases = [
    ['/a', ['/a']], [' /a , /b c ,', ['/a', '/b c']], [',, ,', []], ['', []], ['/a,/a', ['/a', '/a']],
  ];
  for (const [text, ids] of cases) assert.deepEqual(nodeList(text), ids, text);
});

test('how many children the confirmation says', () => {
  assert.deepEqual([0, 1, 2, 10000].map(childCount), ['no children', '1 child', '2 children', '10000 children']);
});

test('an editor is as tall as its text, within bounds', () => {
  const lines = (n) => Array(n).fill('x').join('\n');
  assert.deepEqual([lines(1), lines(2), lines(5), lines(19), lines(400)].map(rowsFor), [3, 3, 6, 20, 20]);
});
