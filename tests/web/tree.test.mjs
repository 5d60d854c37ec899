// The tree's nodes without the page, through tree.js's exports.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  dropChild, expandable, findByName, isUnder, kindWords, makeNode, mergeChildren, pathTo, viewOrder,
} from '../../web/tree.js';

// A root with children made from [id, kind, [grandchildren]] entries.
function tree(entries) {
  const root = makeNode({ id: '/', name: '/', kind: 'FOLDER' }, null, 0);
  const fill = (node, list) => {
    mergeChildren(node, list.map(([id, kind]) => ({ id, name: id, kind })));
    node.children.forEach((child, i) => { if (list[i][2]) fill(child, list[i][2]); });
  };
  fill(root, entries);
  return root;
}
const ids = (nodes) => nodes.map((n) => n.id);

test('a folder asked again keeps what is known of the children that stay', () => {
  const root = tree([['/a', 'FOLDER', [['/a/x', 'CLIP']]], ['/b', 'CLIP'], ['/c', '']]);
  const [a, b, c] = root.children;
  a.open = true;
  c.kind = 'PLAYLIST';  // learnt since from its details
  const gone = mergeChildren(root, [
    { id: '/c', name: 'C', kind: '' }, { id: '/new', name: 'New', kind: 'CLIP' }, { id: '/a', name: 'A', kind: 'FOLDER' }]);
  assert.deepEqual(ids(root.children), ['/c', '/new', '/a']);
  assert.equal(root.children[0], c);
  assert.equal(root.children[2], a);
  assert.deepEqual([c.name, c.kind, c.index], ['C', 'PLAYLIST', 0]);
  assert.deepEqual([a.name, a.open, ids(a.children), a.index], ['A', true, ['/a/x'], 2]);
  const made = root.children[1];
  assert.deepEqual([made.parent, made.level, made.children, made.open], [root, 1, null, false]);
  assert.deepEqual(gone, [b]);
});

test('a folder found empty closes and has nothing to open', () => {
  const root = tree([['/a', 'FOLDER', [['/a/x', 'CLIP']]]]);
  const [a] = root.children;
  a.open = true;
  assert.deepEqual(ids(mergeChildren(a, [])), ['/a/x']);
  assert.equal(a.open, false);
  assert.equal(expandable(a), false);
});

test('a destroyed child leaves its folder, the rest renumbered', () => {
  const root = tree([['/a', 'CLIP'], ['/b', 'CLIP'], ['/c', 'CLIP']]);
  root.open = true;
  const [a, b, c] = root.children;
  dropChild(root, b);
  assert.deepEqual([a.index, c.index, root.open], [0, 1, true]);
  dropChild(root, a);
  assert.deepEqual([ids(root.children), c.index, root.open], [['/c'], 0, true]);
  dropChild(root, c);
  assert.deepEqual([root.children, root.open], [[], false]);
});

test('the rows go through open folders only, each node learning its row', () => {
  const root = tree([['/a', 'FOLDER', [['/a/x', 'CLIP'], ['/a/y', 'FOLDER', [['/a/y/z', 'CLIP']]]]], ['/b', 'CLIP']]);
  assert.deepEqual(ids(viewOrder(root)), ['/']);
  root.open = true;
  assert.deepEqual(ids(viewOrder(root)), ['/', '/a', '/b']);
  const [a, b] = root.children;
  a.open = true;
  a.children[1].open = true;
  const rows = viewOrder(root);
  assert.deepEqual(ids(rows), ['/', '/a', '/a/x', '/a/y', '/a/y/z', '/b']);
  assert.equal(b.row, 5);
  a.open = false;
  assert.deepEqual(ids(viewOrder(root)), ['/', '/a', '/b']);
  assert.equal(b.row, 2);
});

test('a node\'s path and what it is under', () => {
  const root = tree([['/a', 'FOLDER', [['/a/x', 'CLIP']]], ['/b', 'CLIP']]);
  const x = root.children[0].children[0];
  assert.deepEqual(ids(pathTo(x)), ['/', '/a', '/a/x']);
  assert.deepEqual([isUnder(x, root.children[0]), isUnder(x, x), isUnder(x, root.children[1]), isUnder(null, x)],
    [true, true, false, false]);
});

test('typing finds the next name that starts with it, round to the top', () => {
  const rows = ['Apple', 'banana', 'Berry', 'apricot'].map((name) => ({ name }));
  const cases = [
    [0, 'b', 'banana'], [2, 'b', 'Berry'], [3, 'b', 'banana'], [2, 'ap', 'apricot'], [0, 'be', 'Berry'],
    [1, 'ap', 'apricot'], [3, 'apple', 'Apple'], [0, 'c', null], [0, 'bananas', null],
  ];
  for (const [start, typed, name] of cases) {
    const found = findByName(rows, start, typed);
    assert.equal(found && found.name, name, `${typed} from row ${start}`);
  }
});

test('what a row says of its kind', () => {
  const cases = [
    [{ kind: 'FOLDER', children: null }, 'folder'],
    [{ kind: 'FOLDER', children: [] }, 'folder, no children'],
    [{ kind: 'CLIP', children: [] }, 'clip'],
    [{ kind: '', children: [] }, 'kind unknown, no children'],
    [{ kind: 'PLAYLIST', children: [{}] }, 'PLAYLIST'],
    [{ kind: 'FOLDER', children: null, loading: Promise.resolve() }, 'loading…'],
  ];
  for (const [node, words] of cases) assert.equal(kindWords({ loading: null, ...node }), words, JSON.stringify(node));
  assert.deepEqual([expandable({ kind: 'CLIP', children: null }), expandable({ kind: '', children: null })],
    [false, true]);
});
