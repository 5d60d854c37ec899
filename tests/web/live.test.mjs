// Node events and what they change in the open tree, through live.js's
// exports, and the server list getServers answers.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { readAnswer, serversOf, wellFormed } from '../../web/gateway.js';
import { changeKey, effectOf, parseEvent, watchSet } from '../../web/live.js';
import { makeNode, mergeChildren } from '../../web/tree.js';
import { parseXml } from './xml.mjs';

const event = (type, details, nodeId = '/a') => `<event><host>h:1</host><nodeId>${nodeId}</nodeId><type>${type}</type>`
  + `<details>${Object.entries(details).map(([k, v]) => `<entry name="${k}">${v}</entry>`).join('')}</details></event>`;
const heard = (data) => { const e = parseEvent(data, parseXml); return e && effectOf(e); };

test('an event line says what changed, its values as text', () => {
  const cases = [
    [event('NodeCreated', { Node: '/a/new', Time: '5' }), { kind: 'created', node: '/a/new' }],
    [event('NodeDestroyed', { Node: '/a/b' }), { kind: 'destroyed', node: '/a/b' }],
    [event('NodeRenamed', { Node: '/a', Name: 'Cuts &amp; &lt;b&gt;' }), { kind: 'renamed', node: '/a', name: 'Cuts & <b>' }],
    [event('NodeRenamed', { Node: '/a' }), { kind: 'renamed', node: '/a', name: undefined }],
    [event('MetaDataChanged', { Node: '/a/c', Stream: 'info' }), { kind: 'stream', node: '/a/c', stream: 'info' }],
    // Without a Node, the watched node itself changed.
    [event('NodeDestroyed', {}), { kind: 'destroyed', node: '/a' }],
    [event('FramesChanged', { Node: '/a' }), null],
    [event('SomethingNew', { Node: '/a' }), null],
    ['<event><host>h</host><type>NodeCreated</type></event>', null],
    ['<event><host>h</host><nodeId>/a</nodeId></event>', null],
    ['<response><error>No authenticated user</error></response>', null],
    ['<event><nodeId>/a</nodeId>', null],
    ['not xml', null],
  ];
  for (const [data, effect] of cases) assert.deepEqual(heard(data), effect, data);
});

test('one change heard through two watched folders is one change', () => {
  const key = (nodeId, details, type = 'NodeCreated') => changeKey(parseEvent(event(type, details, nodeId), parseXml));
  assert.equal(key('/a', { Node: '/a/b/new', Time: '7' }), key('/a/b', { Node: '/a/b/new', Time: '7' }));
  assert.notEqual(key('/a', { Node: '/a/x', Time: '7' }), key('/a', { Node: '/a/x', Time: '8' }));
  assert.notEqual(key('/a', { Node: '/a/x', Time: '7' }), key('/a', { Node: '/a/x', Time: '7' }, 'NodeDestroyed'));
});

test('the stream watches the selection and the open folders, within its bound', () => {
  const root = makeNode({ id: '/', name: '/', kind: 'FOLDER' }, null, 0);
  mergeChildren(root, ['/a', '/b', '/c'].map((id) => ({ id, name: id, kind: 'FOLDER' })));
  const [a, b, c] = root.children;
  mergeChildren(a, [{ id: '/a/x', name: 'x', kind: 'CLIP' }]);
  root.open = a.open = c.open = true;
  assert.deepEqual(watchSet(root, a.children[0]), ['/a/x', '/', '/a', '/c']);
  assert.deepEqual(watchSet(root, a), ['/a', '/', '/c']);
  assert.deepEqual(watchSet(root, null), ['/', '/a', '/c']);
  assert.deepEqual(watchSet(root, b, 2), ['/b', '/']);
  assert.deepEqual(watchSet(null, null), []);
});

test('the server list names each server and what opens it', () => {
  const one = '<server><name>Cuts &amp; &lt;Co&gt;</name><database>OBRAN</database><addresses><address>10.0.0.2</address>'
    + '<address>::1</address></addresses><nodePort>7549</nodePort><framePort>7550</framePort><version>2014.0.0.6115</version>'
    + '<local>false</local><host>10.0.0.2:7549</host></server>';
  const list = serversOf(wellFormed(readAnswer(`<response>${one}<server><host>b:1</host><local>true</local></server></response>`,
    parseXml)));
  assert.deepEqual(list, [
    { name: 'Cuts & <Co>', database: 'OBRAN', addresses: ['10.0.0.2', '::1'], nodePort: '7549', version: '2014.0.0.6115',
      local: false, host: '10.0.0.2:7549' },
    { name: '', database: '', addresses: [], nodePort: '', version: '', local: true, host: 'b:1' },
  ]);
  assert.deepEqual(serversOf(wellFormed(readAnswer('<response></response>', parseXml))), []);
  assert.throws(() => serversOf(wellFormed(readAnswer('<response><server><name>x</name></server></response>', parseXml))));
});
