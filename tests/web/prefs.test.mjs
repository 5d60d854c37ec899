// The preferences as saveUser keeps them, through prefs.js's exports.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { MAX_OPEN, foldersToKeep, parsePrefs, prefsXml } from '../../web/prefs.js';
import { parseXml } from './xml.mjs';

const read = (text) => parsePrefs(parseXml(`<response>${text}</response>`));
const nodes = (ids) => ids.map((id) => `<node>${id}</node>`).join('');

test('saved preferences, whole, in part or none', () => {
  const cases = [
    ['', null],
    ['<other/>', null],
    ['<prefs/>', { server: '', nodes: '', stream: '', open: [] }],
    ['<prefs><server>h:1</server><nodes>/a, /b</nodes><stream>info</stream><open><node>/a</node><node>/a/b c</node></open></prefs>',
      { server: 'h:1', nodes: '/a, /b', stream: 'info', open: ['/a', '/a/b c'] }],
    ['<prefs><stream>x</stream><open><other>/x</other><node>/y</node></open></prefs>',
      { server: '', nodes: '', stream: 'x', open: ['/y'] }],
  ];
  for (const [text, prefs] of cases) assert.deepEqual(read(text), prefs, text);
});

test('a stored document with too many open folders reopens at most MAX_OPEN', () => {
  const ids = Array.from({ length: MAX_OPEN + 20 }, (_, i) => `/f${i}`);
  assert.deepEqual(read(`<prefs><open>${nodes(ids)}</open></prefs>`).open, ids.slice(0, MAX_OPEN));
});

test('the saved document', () => {
  assert.equal(prefsXml({ server: 'h:1', nodes: '', stream: 'info', open: ['/a'] }),
    '<prefs><server>h:1</server><nodes/><stream>info</stream><open><node>/a</node></open></prefs>');
  assert.equal(prefsXml({ server: '', nodes: '', stream: '', open: [] }),
    '<prefs><server/><nodes/><stream/><open/></prefs>');
});

test('markup in what is saved reads back as the same text', () => {
  const prefs = {
    server: 'h&<x>', nodes: '</nodes><server>evil</server>', stream: '"\'&amp;', open: ['/<a>&', ']]>'],
  };
  assert.deepEqual(read(prefsXml(prefs)), prefs);
});

test('the folders to reopen come once each, at most MAX_OPEN', () => {
  assert.deepEqual(foldersToKeep(['/a', '/b'], ['/b', '/c', '/a']), ['/a', '/b', '/c']);
  const many = Array.from({ length: MAX_OPEN }, (_, i) => `/f${i}`);
  assert.deepEqual(foldersToKeep(many, ['/later']), many);
});
