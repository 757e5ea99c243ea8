⍝ Every form of assignment, quad and quote-quad output
⍝ MAIN: ASSIGN
∇ASSIGN;A;B;C;V;W
A←B←3
⎕←A,B
(A B C)←1 'x' (2 3)
⎕←A ⋄ ⎕←B ⋄ ⎕←C
(A B)←7
⎕←A+B
V←⍳5
V[2 4]←0
⎕←V
W←3 3⍴0
W[2;]←1 2 3
⎕←W
(2↑V)←9 8
⎕←V
(1 0 1 0 1 0 1 0 1/,W)←5 6 7 8 9
⎕←W
⎕←'quad'
⍞←'no end'
⍞←' here'
⎕←''
V←⎕←1 2 3
⎕←V+1
∇
