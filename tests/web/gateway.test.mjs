// The reading of the gateway's answers, through gateway.js's exports.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  GatewayError, childrenOf, createdOf, encodeForm, metadataTexts, nodeInfoOf, readAnswer, wellFormed,
} from '../../web/gateway.js';
import { parseXml } from './xml.mjs';

const root = (text) => wellFormed(readAnswer(text, parseXml));
const failure = (message) => (e) => e instanceof GatewayError && e.message === message;
const NO_RESPONSE = 'The gateway did not answer with a response.';
const UNKNOWN = 'The gateway\'s answer is not one this page knows.';

test('an answer is a response, its error element the gateway\'s words', () => {
  const cases = [
    ['<response><error>Node &apos;/a&apos; has no metadata stream &apos;x&apos;</error></response>',
      "Node '/a' has no metadata stream 'x'"],
    ['<html><body>Bad gateway</body></html>', NO_RESPONSE],
    ['Internal Server Error', NO_RESPONSE],
    ['', NO_RESPONSE],
    ['<?xml version="1.0"?><response><node/></response>', null],
    // Stored metadata may hold an error element of its own.
    ['<response><node><nodeId>/a</nodeId><host>h</host><error>mine</error></node></response>', null],
  ];
  for (const [text, error] of cases) {
    if (error) assert.throws(() => readAnswer(text, parseXml), failure(error), text);
    else assert.equal(readAnswer(text, parseXml).root.localName, 'response', text);
  }
});

test('a response that is not well-formed keeps its text for the metadata', () => {
  const text = '<response><node><nodeId>/a</nodeId><host>h</host>1 < 2 & more</node></response>';
  const answer = readAnswer(text, parseXml);
  assert.deepEqual(answer, { root: null, text });
  assert.throws(() => wellFormed(answer), failure('The gateway answered with XML that is not well-formed.'));
});

test('children come with their names, falling back to the identifier, and their kinds', () => {
  const answer = root('<response><node><nodeId>/m</nodeId>'
    + '<child><nodeId>/m/a</nodeId><displayName>A &amp; B</displayName><type>CLIP</type></child>'
    + '<child><nodeId>/m/b</nodeId><displayName/><type>FOLDER</type></child>'
    + '<child><nodeId>/m/c</nodeId></child></node></response>');
  assert.deepEqual(childrenOf(answer, true), [
    { id: '/m/a', name: 'A & B', kind: 'CLIP' }, { id: '/m/b', name: '/m/b', kind: 'FOLDER' },
    { id: '/m/c', name: '/m/c', kind: '' }]);
  assert.deepEqual(childrenOf(answer, false).map((c) => c.kind), ['', '', '']);
  assert.deepEqual(childrenOf(root('<response><node><nodeId>/e</nodeId></node></response>'), true), []);
});

test('answers without what the page asked for are refused', () => {
  const cases = [
    [childrenOf, '<response/>'],
    [childrenOf, '<response><node><child><displayName>no id</displayName></child></node></response>'],
    [childrenOf, '<response><node><child><nodeId></nodeId></child></node></response>'],
    [nodeInfoOf, '<response><user>demo</user></response>'],
    [createdOf, '<response/>'],
    [createdOf, '<response><user>/a</user></response>'],
  ];
  for (const [reader, text] of cases) assert.throws(() => reader(root(text), true), failure(UNKNOWN), text);
});

test('a node\'s facts', () => {
  const info = nodeInfoOf(root('<response><node><nodeId>/m/t</nodeId><type>CLIP</type>'
    + '<displayName>Trailer</displayName><parentId>/m</parentId><numChildren>0</numChildren>'
    + '<streams><stream>info</stream><stream>notes</stream></streams></node></response>'));
  assert.deepEqual(info, { type: 'CLIP', name: 'Trailer', parentId: '/m', children: 0, streams: ['info', 'notes'] });
  const top = nodeInfoOf(root('<response><node><nodeId>/</nodeId><numChildren>12</numChildren></node></response>'));
  assert.deepEqual(top, { type: '', name: '', parentId: '', children: 12, streams: [] });
  assert.equal(createdOf(root('<response><node>/s/Cuts &amp; Co</node></response>')), '/s/Cuts & Co');
});

test('metadata texts are cut from the raw answer exactly as the server keeps them', () => {
  const node = (id, host, text) => `<node><nodeId>${id}</nodeId><host>${host}</host>${text}</node>`;
  const answer = (...nodes) => `<response>${nodes.join('')}</response>`;
  const odd = "/a&b's <c>";
  const cases = [
    [answer(node('/a', 'h:1', '<info x=\'1\'/>')), 'h:1', ['/a'], ['<info x=\'1\'/>']],
    [answer(node('/a', 'h:1', ''), node('/b', 'h:1', 'not XML & <')), 'h:1', ['/a', '/b'], ['', 'not XML & <']],
    // Texts that hold what ends a node.
    [answer(node('/a', 'h', '<x></node></x>'), node('/b', 'h', '</node></response>')), 'h', ['/a', '/b'],
      ['<x></node></x>', '</node></response>']],
    [answer(node('/a&amp;b&apos;s &lt;c&gt;', 'h&amp;&quot;', 'T')), 'h&"', [odd], ['T']],
    // Answers that do not list what was asked for, in that order.
    [answer(node('/b', 'h', 'B'), node('/a', 'h', 'A')), 'h', ['/a', '/b'], null],
    [answer(node('/a', 'h', 'A')), 'h', ['/a', '/b'], null],
    [answer(node('/a', 'other', 'A')), 'h', ['/a'], null],
    [answer(node(odd, 'h', 'A')), 'h', [odd], null],
    ['<response><node><nodeId>/a</nodeId><host>h</host>cut off', 'h', ['/a'], null],
  ];
  for (const [text, host, ids, texts] of cases) assert.deepEqual(metadataTexts(text, host, ids), texts, text);
});

test('a form is encoded whole, every reserved character escaped', () => {
  assert.equal(encodeForm({ mode: 'getMetadata', nodeId: '/a b&c=d+e,é', streamName: '' }),
    'mode=getMetadata&nodeId=%2Fa%20b%26c%3Dd%2Be%2C%C3%A9&streamName=');
});
